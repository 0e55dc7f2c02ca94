#ifndef VEX_UT_CONVERT_H
#define VEX_UT_CONVERT_H

#include "SkarnExport.h"

#include <cstddef>
#include <string>

// Text conversions.
class SKARN_EXPORT VexUtConvert {
public:
    // ASCII lower case in place; returns its argument (null stays null).
    static char* strlwr(char* text);
    static std::string& strlwr(std::string& text);

    // Two upper-case hexadecimal digits per byte: "0D0A" for CR LF.
    static std::string hexCvt(const unsigned char* data, std::size_t length);
    static std::string hexCvt(int byte);  // one byte value 0..255; -1 gives "-1"
    // The prefix that marks hexadecimal text: "0x".
    static const char* getHexPrefix() { return "0x"; }
};

#endif
