#include "platform/httptools/HTTPMessage.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

void HTTPMessage::trim(std::string& text)
{
    std::size_t end = text.size();
    while (end > 0 && isSpace(text[end - 1]))
        --end;
    std::size_t start = 0;
    while (start < end && isSpace(text[start]))
        ++start;
    text.erase(end);
    text.erase(0, start);
}
