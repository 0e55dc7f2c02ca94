#include "platform/httptools/HTTPHeader.h"

#include "platform/core/VexByteBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string orNull(const char* v) { return v ? v : "<null>"; }

// The value, the named attributes, and the normal form the header dumps
// (appended to "X: "), as one text: "value|attr=v|...|X: dump".
std::string parsed(const char* text, std::vector<const char*> attributes)
{
    HTTPHeader h;
    h.parse(text);
    std::string out = orNull(h.getValue());
    for (const char* a : attributes)
        out += "|" + (a ? std::string(a) : "") + "=" + orNull(h.getAttribute(a));
    VexByteBuffer dump;
    dump.append("X: ");
    h.dump(dump);
    return out + "|" + dump.getData();
}

TEST(HTTPHeader, ParsesRealWorldValues)
{
    const struct { const char* text; std::vector<const char*> attributes; const char* want; } cases[] = {
        {"text/xml", {"charset"}, "text/xml|charset=<null>|X: text/xml"},
        {"  text/xml ;  charset = UTF-8  ", {"charset"}, "text/xml|charset=UTF-8|X: text/xml; charset=UTF-8"},
        {"multipart/related; type=\"text/xml\"; boundary=\"a=b\"", {"type", "BOUNDARY"},
         "multipart/related|type=text/xml|BOUNDARY=a=b|X: multipart/related; type=\"text/xml\"; boundary=\"a=b\""},
        {"x; q=\"a\\\"b\\\\c\"", {"q"}, "x|q=a\"b\\c|X: x; q=\"a\\\"b\\\\c\""},
        {"x;; ;a=1;", {"a"}, "x|a=1|X: x; a=1"},
        {"x; a=\"open; b=2", {"a", "b"}, "x|a=open; b=2|b=<null>|X: x; a=\"open; b=2\""},
        {"x; a=\"q\"tail ; b=2", {"a", "b"}, "x|a=qtail|b=2|X: x; a=qtail; b=2"},
        {"a; b=c d", {}, "a|X: a; b=\"c d\""},
        {nullptr, {"a", nullptr}, "<null>|a=<null>|=<null>|X: "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.want, parsed(c.text, c.attributes)) << orNull(c.text);
        // The normal form parses to the same form again.
        std::string form = c.want;
        form = form.substr(form.rfind("X: ") + 3);
        EXPECT_EQ("X: " + form, parsed(form.c_str(), {}).substr(parsed(form.c_str(), {}).rfind("X: "))) << form;
    }
}

// A value said to be its own normal form must come back unchanged from parse
// and dump; the near misses must be refused, or stored values would differ
// from what the header object makes of them.
TEST(HTTPHeader, NormalFormIsRecognisedExactly)
{
    const struct { const char* text; bool normal; } cases[] = {
        {"text/xml; charset=UTF-8", true},
        {"Agent/1.0 (toolkit; Linux x86_64; build 7)", true},
        {"a; b; c=d", true},
        {"a; b x=y", true},
        {"plain", true},
        {"a;b=c", false},
        {"a;  b=c", false},
        {"a ; b=c", false},
        {"a; b =c", false},
        {"a; b= c", false},
        {"a; b=c d", false},
        {"a; b=\"c\"", false},
        {"a; b=c/d", false},
        {"a; b=", false},
        {"a; =c", false},
        {"a;; b=c", false},
        {"a; b=c;", false},
        {"\"q;r\"; b=c", false},
        {"; b=c", false},
        {"a; b=c ", false},
        {"", false},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(c.normal, HTTPHeader::isNormalForm(text.data(), text.size())) << text;
        if (c.normal) {
            EXPECT_EQ("X: " + text, parsed(c.text, {}).substr(parsed(c.text, {}).rfind("X: "))) << text;
        }
    }
}

}  // namespace
