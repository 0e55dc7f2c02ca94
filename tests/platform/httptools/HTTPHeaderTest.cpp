#include "platform/httptools/HTTPHeader.h"

#include "platform/core/VexByteBuffer.h"
#include "platform/httptools/HTTPMessage.h"
#include "platform/httptools/NoSuchElementExceptionST.h"
#include "platform/httptools/VexStringTokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string dumped(const HTTPHeader& h)
{
    VexByteBuffer out(40, 256);
    h.dump(out);
    return std::string(out.getData(), out.length());
}

std::string orNull(const char* v) { return v ? v : "<null>"; }

struct HeaderCase {
    const char* label;
    const char* text;
    const char* value;
    std::vector<std::pair<const char*, const char*>> attributes;  // name, expected ("<null>": absent)
    const char* dump;
};

TEST(HTTPHeader, ParsesRealWorldValues)
{
    const std::vector<HeaderCase> cases = {
        {"plain value", "text/xml", "text/xml", {{"charset", "<null>"}}, "text/xml"},
        {"blanks around everything", "  text/xml ;  charset = UTF-8  ", "text/xml", {{"charset", "UTF-8"}},
         "text/xml; charset=UTF-8"},
        {"multipart with quoted type and boundary holding '='",
         "multipart/related; type=\"text/xml\"; boundary=\"a=b\"", "multipart/related",
         {{"type", "text/xml"}, {"boundary", "a=b"}, {"BOUNDARY", "a=b"}, {"Type", "text/xml"}},
         "multipart/related; type=\"text/xml\"; boundary=\"a=b\""},
        {"backslash escapes inside quotes", "x; q=\"a\\\"b\\\\c\"", "x", {{"q", "a\"b\\c"}}, "x; q=\"a\\\"b\\\\c\""},
        {"';' inside a quoted attribute", "x; q=\"a;b\"; r=1", "x", {{"q", "a;b"}, {"r", "1"}}, "x; q=\"a;b\"; r=1"},
        {"';' inside a quoted main value", "\"urn:a;b\"; p=1", "\"urn:a;b\"", {{"p", "1"}}, "\"urn:a;b\"; p=1"},
        {"empty pieces and a trailing ';'", "x;; ;a=1;", "x", {{"a", "1"}}, "x; a=1"},
        {"attribute without '='", "Mozilla/5.0 (X11; Linux x86_64)", "Mozilla/5.0 (X11",
         {{"Linux x86_64)", ""}}, "Mozilla/5.0 (X11; Linux x86_64)"},
        {"empty quoted value", "x; a=\"\"", "x", {{"a", ""}}, "x; a=\"\""},
        {"unterminated quote takes the rest", "x; a=\"open; b=2", "x", {{"a", "open; b=2"}, {"b", "<null>"}},
         "x; a=\"open; b=2\""},
        {"bytes after a closing quote are kept", "x; a=\"q\"tail ; b=2", "x", {{"a", "qtail"}, {"b", "2"}},
         "x; a=qtail; b=2"},
        {"first of a repeated attribute", "x; a=1; A=2", "x", {{"a", "1"}}, "x; a=1; A=2"},
        {"only attributes", "; a=b", "", {{"a", "b"}}, "; a=b"},
        {"empty text", "", "", {}, ""},
        {"value with colons and equals", "Basic dXNlcjpwYXNz==", "Basic dXNlcjpwYXNz==", {}, "Basic dXNlcjpwYXNz=="},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.label);
        HTTPHeader h;
        h.parse(c.text);
        EXPECT_EQ(std::string(c.value), orNull(h.getValue()));
        for (const auto& a : c.attributes)
            EXPECT_EQ(std::string(a.second), orNull(h.getAttribute(a.first))) << a.first;
        EXPECT_EQ(std::string(c.dump), dumped(h));
        // The normal form parses to the same value and dumps unchanged.
        HTTPHeader again;
        again.parse(dumped(h).c_str());
        EXPECT_EQ(dumped(h), dumped(again));
    }
}

TEST(HTTPHeader, NothingParsedGivesNull)
{
    HTTPHeader h;
    EXPECT_EQ(nullptr, h.getValue());
    EXPECT_EQ(nullptr, h.getAttribute("a"));
    EXPECT_EQ(nullptr, h.getAttribute(nullptr));
    h.parse("v; a=1");
    h.parse(nullptr);
    EXPECT_EQ(nullptr, h.getValue());
    EXPECT_EQ(nullptr, h.getAttribute("a"));
    EXPECT_EQ("", dumped(h));
}

TEST(HTTPHeader, DumpAppends)
{
    HTTPHeader h;
    h.parse("a; b=c d");
    VexByteBuffer out;
    out.append("X: ");
    h.dump(out);
    EXPECT_STREQ("X: a; b=\"c d\"", out.getData());
}

TEST(HTTPMessage, TrimRemovesWhiteSpaceAtBothEnds)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  a b \t\r\n", "a b"}, {"", ""}, {" \t ", ""}, {"x", "x"}, {"\v\fx\f", "x"}};
    for (const auto& c : cases) {
        std::string s = c.first;
        HTTPMessage::trim(s);
        EXPECT_EQ(c.second, s);
    }
}

TEST(VexStringTokenizer, TokensAndTheRest)
{
    VexStringTokenizer t("  HTTP/1.1 \t 404  Not Found", " \t", 0);
    EXPECT_EQ(1, t.hasMoreTokens());
    EXPECT_EQ("HTTP/1.1", t.nextToken());
    EXPECT_EQ("404", t.nextToken());
    EXPECT_EQ("Not Found", t.theRest());
    EXPECT_EQ("Not", t.nextToken());
    EXPECT_EQ("Found", t.nextToken());
    EXPECT_EQ("", t.theRest());
    EXPECT_EQ(0, t.hasMoreTokens());
    try {
        t.nextToken();
        ADD_FAILURE() << "nothing thrown";
    } catch (const NoSuchElementExceptionST& e) {
        EXPECT_STREQ("NoSuchElementExceptionST", e.getThrowableName());
        EXPECT_EQ("VexStringTokenizer::nextToken", e.getBackTraceAt(0).function);
    }
}

TEST(VexStringTokenizer, EmptyAndNullTexts)
{
    VexStringTokenizer empty("", " ", 0);
    EXPECT_THROW(empty.nextToken(), NoSuchElementExceptionST);
    VexStringTokenizer blanks(" \t ", " \t", 0);
    EXPECT_THROW(blanks.nextToken(), NoSuchElementExceptionST);
    VexStringTokenizer none(nullptr, " ", 0);
    EXPECT_THROW(none.nextToken(), NoSuchElementExceptionST);
    EXPECT_EQ("", none.theRest());
}

TEST(VexStringTokenizer, DelimitersAsTokens)
{
    VexStringTokenizer t("a,b", ",", 1);
    EXPECT_EQ("a", t.nextToken());
    EXPECT_EQ(",", t.nextToken());
    EXPECT_EQ("b", t.nextToken());
    EXPECT_THROW(t.nextToken(), NoSuchElementExceptionST);
}

}  // namespace
