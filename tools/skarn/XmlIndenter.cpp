#include "XmlIndenter.h"

#include <vector>

namespace {

enum Kind { Open, Close, Alone, Text };

struct Token {
    Kind kind;
    std::string text;
};

// The end of the markup that starts at `at` (one past it), or npos.
std::size_t markupEnd(const std::string& xml, std::size_t at)
{
    auto after = [&](const char* mark) {
        std::size_t end = xml.find(mark, at);
        return end == std::string::npos ? end : end + std::string(mark).size();
    };
    if (xml.compare(at, 4, "<!--") == 0)
        return after("-->");
    if (xml.compare(at, 9, "<![CDATA[") == 0)
        return after("]]>");
    if (xml.compare(at, 2, "<?") == 0)
        return after("?>");
    return after(">");
}

std::vector<Token> tokens(const std::string& xml)
{
    std::vector<Token> out;
    for (std::size_t at = 0; at < xml.size();) {
        if (xml[at] != '<') {
            std::size_t end = xml.find('<', at);
            std::string text = xml.substr(at, end - at);
            if (text.find_first_not_of(" \t\r\n") != std::string::npos)
                out.push_back({Text, text});
            at = end == std::string::npos ? xml.size() : end;
            continue;
        }
        std::size_t end = markupEnd(xml, at);
        if (end == std::string::npos)
            end = xml.size();
        std::string tag = xml.substr(at, end - at);
        Kind kind = Alone;
        if (tag.compare(0, 2, "</") == 0)
            kind = Close;
        else if (tag.size() > 2 && tag[1] != '!' && tag[1] != '?' && tag.compare(tag.size() - 2, 2, "/>") != 0)
            kind = Open;
        else if (xml.compare(at, 9, "<![CDATA[") == 0)
            kind = Text;
        out.push_back({kind, tag});
        at = end;
    }
    return out;
}

}  // namespace

std::string XmlIndenter::indent(const std::string& xml)
{
    std::vector<Token> t = tokens(xml);
    std::string out;
    int depth = 0;
    auto line = [&](const std::string& text) { out += std::string(2 * (depth > 0 ? depth : 0), ' ') + text + "\n"; };
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind == Open && i + 2 < t.size() && t[i + 1].kind == Text && t[i + 2].kind == Close) {
            line(t[i].text + t[i + 1].text + t[i + 2].text);
            i += 2;
        } else if (t[i].kind == Open && i + 1 < t.size() && t[i + 1].kind == Close) {
            line(t[i].text + t[i + 1].text);
            ++i;
        } else if (t[i].kind == Open) {
            line(t[i].text);
            ++depth;
        } else if (t[i].kind == Close) {
            --depth;
            line(t[i].text);
        } else {
            line(t[i].text);
        }
    }
    return out;
}
