#ifndef SKARN_FUZZ_HEAD_H
#define SKARN_FUZZ_HEAD_H

// One fuzz input as an HTTP head: the first byte chooses the largest block
// read of the "socket" (0: no cap) and the buffer size, the rest is the head.
// `parse` is parseRequest or parseResponse. The parser either accepts the head
// or raises a toolkit exception; an accepted head's table must answer its own
// lookups.
#include "FuzzRead.h"

#include "http/SkrHTTPParser.h"
#include "platform/core/VexThrowable.h"

#include <cstring>
#include <memory>

// Reaches the head parser's constructor, which only the readers use.
class SkrHTTPParserTestPeer {
public:
    static std::unique_ptr<SkrHTTPParser> make() { return std::unique_ptr<SkrHTTPParser>(new SkrHTTPParser()); }
};

inline int fuzzHead(const uint8_t* data, size_t size, void (SkrHTTPParser::*parse)(QioBufferedInputStream*))
{
    if (size < 1)
        return 0;
    const unsigned chunk = data[0] % 8;
    const int bufferSize = (data[0] & 0x80) ? 16 : 1024;
    MemoryInputStream socket(bytesOf(data + 1, size - 1), chunk, true);
    QioBufferedInputStream in(socket, bufferSize);
    auto parser = SkrHTTPParserTestPeer::make();
    try {
        ((*parser).*parse)(&in);
        for (const auto& h : parser->getHeaders()) {
            // A name holding a NUL byte cannot be asked for by C string.
            if (h.first.find('\0') != std::string::npos)
                continue;
            const char* v = parser->getHeader(h.first.c_str());
            if (!v || std::strcmp(v, h.second.c_str()) != 0)
                __builtin_trap();
        }
        if (parser->isMultipart() && parser->getMultipartDelimiter().empty())
            __builtin_trap();
        if (parser->getContentLength() < 0)
            __builtin_trap();
    } catch (const VexThrowable&) {
    }
    return 0;
}

#endif
