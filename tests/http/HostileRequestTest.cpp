// Hostile requests through the reader: envelopes past the parse limits are
// refused as errEnvelope16 naming the limit (those at the limits accepted),
// and a head longer than the head limit is refused.
#include "http/SkrMessageReader.h"

#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "support/ExpectThrow.h"
#include "support/MemorySocket.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

namespace {

std::string times(const std::string& s, std::size_t n)
{
    std::string out;
    while (n--)
        out += s;
    return out;
}

// ` <prefix>0="<value>" <prefix>1="<value>" ...`, numbered from `from`.
std::string attributes(std::size_t n, const std::string& prefix = "a", std::size_t from = 0, const char* value = "")
{
    std::string out;
    for (std::size_t i = from; i < from + n; ++i)
        out += " " + prefix + std::to_string(i) + "=\"" + value + "\"";
    return out;
}

std::string request(const std::string& body)
{
    return "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The name of the envelope's root, read from `wire` with getEnvelope.
std::string rootOf(const std::string& wire, int isRequest = 1)
{
    MemorySocket sock(wire);
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "h"));
    VexIDOM_Element parent = doc->getDocumentElement();
    SkrMessageReader r(isRequest, sock.getInputStream(), &sock);
    r.getEnvelope(parent);
    return parent.getFirstChild().getNodeName().str();
}

}  // namespace

TEST(HostileEnvelope, RefusedPastEachLimitAcceptedAtIt)
{
    const std::string deep = "elements are nested deeper than the limit of 256";
    const std::string wide = "an element has more attributes than the limit of 128";
    std::string names;  // <n0/> to <n2047/>
    for (int i = 0; i < 2048; ++i)
        names += "<n" + std::to_string(i) + "/>";
    struct Row {
        const char* label;
        std::string body;
        int code;  // the parser error; 0: accepted
        std::string text;  // literal text of the refusal, or the root's name
    };
    const Row rows[] = {
        {"200,000 deep, open", times("<a>", 200000), VexIDOM_Parser::TOO_DEEP, deep},
        {"256 deep", times("<b>", 256) + times("</b>", 256), 0, "b"},
        {"129 attributes", "<e" + attributes(128) + " z='='/>", VexIDOM_Parser::TOO_MANY_ATTRIBUTES, wide},
        {"128 attributes, '=' in values, comments, CDATA, PIs",
         "<e" + attributes(127) + " x='=\"=='><!-- =<a= --><![CDATA[<a =]]><?p <a=?></e>", 0, "e"},
        {"129 namespaces in scope", "<e" + attributes(100, "xmlns:p", 0, "u") + "><f" + attributes(29, "xmlns:p", 100, "u") + "/></e>",
         VexIDOM_Parser::TOO_MANY_NAMESPACES, "more namespace declarations are in scope than the limit of 128"},
        {"2049 names", "<r>" + names + "</r>", VexIDOM_Parser::TOO_MANY_NAMES,
         "the document uses more distinct names than the limit of 2048"},
        {"2048 names", "<n0>" + names.substr(6) + "</n0>", 0, "n0"},
        // The same thread's kept parser: the names of the last parse count no more.
        {"2048 other names", "<m0>" + std::regex_replace(names.substr(6), std::regex("<n"), "<m") + "</m0>", 0, "m0"},
        {"cost", "<r>" + times("<a/>", 63999) + "<a/></r>", VexIDOM_Parser::TOO_COSTLY,
         "building the document costs more than the limit of 128000 units"},
        {"cost 128000", "<r>" + times("<a/>", 63999) + "</r>", 0, "r"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.code == 0) {
            EXPECT_EQ(row.text, rootOf(request(row.body)));
            continue;
        }
        SkarnException e = expectSkarnError([&] { rootOf(request(row.body)); },
                                            {SkarnException::errEnvelope16, 1842023855, row.text,
                                             "SkrMessageReader::getEnvelope"});
        std::string parms = parmsOf(e);
        EXPECT_EQ(std::to_string(row.code), parms.substr(parms.rfind('|') + 1));
    }
}

TEST(HostileHead, HeadLimitRefusesALongerHead)
{
    struct Off {
        ~Off() { SkrHTTPParser::setHeadLimit(0); }
    } off;
    const std::string head100 = "POST / HTTP/1.1\r\nContent-Length: 4\r\nX-Pad: " + std::string(53, 'p') + "\r\n\r\n";
    ASSERT_EQ(100u, head100.size());
    const std::string over = "the message head is longer than the limit of 100 bytes";
    struct Row {
        const char* label;
        int isRequest;
        std::string wire;
        std::string function;  // empty: accepted
    };
    const Row rows[] = {
        {"request head of 100 bytes", 1, head100 + "<a/>", ""},
        {"request head of 101 bytes", 1, "\n" + head100 + "<a/>", "SkrHTTPParser::processHeaders"},
        {"100 empty lines first", 1, times("\r\n", 50) + head100, "SkrHTTPParser::parseRequest"},
        {"interim 100 response counted", 0, "HTTP/1.1 100 Go\r\n\r\n" + std::string("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nX-Pad: ") +
                                                std::string(53, 'p') + "\r\n\r\n<a/>", "SkrHTTPParser::processHeaders"},
    };
    SkrHTTPParser::setHeadLimit(100);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.function.empty()) {
            EXPECT_EQ("a", rootOf(row.wire, row.isRequest));
            continue;
        }
        MemorySocket sock(row.wire);
        SkrMessageReader r(row.isRequest, sock.getInputStream(), &sock);
        expectSkarnError([&] { r.openEnvelope(); }, {SkarnException::errUnexpectedEnd, 1842183075, over, row.function});
        // At most the limit and the reader's read-ahead were taken from the connection.
        EXPECT_LE(row.wire.size() - sock.unread().size(), 100u + 64 * 1024);
    }
}
