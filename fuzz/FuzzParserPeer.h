#ifndef SKARN_FUZZ_PARSER_PEER_H
#define SKARN_FUZZ_PARSER_PEER_H

#include "http/SkrHTTPParser.h"

#include <memory>

// Reaches the head parser's constructor, which only the readers use.
class SkrHTTPParserTestPeer {
public:
    static std::unique_ptr<SkrHTTPParser> make() { return std::unique_ptr<SkrHTTPParser>(new SkrHTTPParser()); }
};

#endif
