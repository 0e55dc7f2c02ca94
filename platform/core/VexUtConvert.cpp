#include "platform/core/VexUtConvert.h"

namespace {

const char kDigits[] = "0123456789ABCDEF";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

char* VexUtConvert::strlwr(char* text)
{
    if (text)
        for (char* p = text; *p; ++p)
            *p = lower(*p);
    return text;
}

std::string& VexUtConvert::strlwr(std::string& text)
{
    for (char& c : text)
        c = lower(c);
    return text;
}

std::string VexUtConvert::hexCvt(const unsigned char* data, std::size_t length)
{
    std::string out;
    out.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

std::string VexUtConvert::hexCvt(int byte)
{
    if (byte < 0 || byte > 255)
        return std::to_string(byte);
    unsigned char b = static_cast<unsigned char>(byte);
    return hexCvt(&b, 1);
}
