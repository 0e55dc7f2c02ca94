// A request head from hostile bytes: the parser either accepts it or raises a
// toolkit exception; it never reads past the head.
#include "FuzzHead.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzHead(data, size, &SkrHTTPParser::parseRequest);
}
