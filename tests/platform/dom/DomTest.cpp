// The DOM layer: safe parsing with a parser kept per thread and serialisation
// that parses back to the same tree (parsing fed byte by byte is the message
// reader's tests' part).
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

class StringDomWriter : public DomWriter {
public:
    void writeChars(const char* data, unsigned length) override { out.append(data, length); }
    std::string out;
};

std::string serialise(const VexIDOM_Node& n)
{
    StringDomWriter w;
    VexIDOM_Helper::write(n, w);
    return w.out;
}

int parseText(VexIDOM_Parser& p, const std::string& xml, VexIDOM_Document& doc)
{
    MemoryInputStream in(xml);
    return p.parse(in, doc);
}
int parseText(const std::string& xml, VexIDOM_Document& doc)
{
    VexIDOM_Parser p(0);
    return parseText(p, xml, doc);
}

// Watches a file for any open or read.
struct FileAccessWatch {
    explicit FileAccessWatch(const std::string& path) : fd(inotify_init1(IN_NONBLOCK)) { inotify_add_watch(fd, path.c_str(), IN_OPEN | IN_ACCESS); }
    ~FileAccessWatch() { close(fd); }
    bool touched()
    {
        char buf[4096];
        return ::read(fd, buf, sizeof buf) > 0;
    }
    int fd;
};

std::string laughs()
{
    std::string xml = "<!DOCTYPE l [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        xml += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += "&l" + std::to_string(i - 1) + ";";
        xml += "\">";
    }
    return xml + "]><l>&l9;</l>";
}

const char* const GOOD = "<s:Envelope xmlns:s=\"urn:s\"><s:Body><v n=\"1\">x</v></s:Body></s:Envelope>";

// Parses GOOD: the tree is GOOD's and no error of an earlier parse shows.
void expectGoodParse(VexIDOM_Parser& p)
{
    VexIDOM_Document doc;
    ASSERT_EQ(0, parseText(p, GOOD, doc));
    EXPECT_EQ("0 0 0 ", std::to_string(p.getErrorCode()) + " " + std::to_string(p.getCurrentLineNumber()) + " " +
                            std::to_string(p.getCurrentColumnNumber()) + " " + p.errorString().str());
    EXPECT_EQ(GOOD, serialise(doc.getDocumentElement()));
    EXPECT_TRUE(doc.getDocumentElement().getNextSibling().isNull());
    EXPECT_EQ("", doc.getDocumentElement().getAttribute("d").str());  // no attribute defaulted in by an earlier DTD
}

// A refused document gives its first error's code, text and position and
// nothing of its tree; it leaves nothing for the next parse of the same
// object or of a new one on this thread, which refuses it again alike.
TEST(DomParse, RefusedDocumentsLeaveNothingBehind)
{
    const std::string secret = testing::TempDir() + "skarn_secret_" + std::to_string(getpid()) + ".txt";
    { std::ofstream(secret) << "SECRET"; }
    FileAccessWatch watch(secret);
    const int DOCTYPE = XERCES_CPP_NAMESPACE::XMLErrs::InvalidDocumentStructure;
    const struct {
        const char* label;
        std::string xml;
        int line;      // 0: not checked
        int code = 0;  // 0: any
        const char* text = nullptr;
    } rows[] = {
        {"unclosed element", "<a><b></a>", 1},
        {"second line", "<a>\n<b x=1/></a>", 2},
        {"bad utf-8", "<a>\xC3\x28</a>", 1},
        {"DOCTYPE", "<?xml version=\"1.0\"?><!DOCTYPE a [<!ELEMENT a ANY>]><a/>", 1, DOCTYPE, "invalid document structure"},
        {"external entity", "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + secret + "\">]><a>&x;</a>", 1, DOCTYPE},
        {"entity expansion", laughs(), 1, DOCTYPE},
        {"attribute default", "<!DOCTYPE s:Envelope [<!ATTLIST s:Envelope d CDATA \"x\">]><s:Envelope xmlns:s=\"urn:s\"/>", 1,
         DOCTYPE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        VexIDOM_Document doc;
        VexIDOM_Parser p(0);
        int rc = parseText(p, row.xml, doc);
        EXPECT_NE(0, rc);
        EXPECT_EQ(rc, p.getErrorCode());
        if (row.code) {
            EXPECT_EQ(row.code, rc);
        }
        EXPECT_EQ(row.text ? row.text : p.errorString().str(), p.errorString().str());
        EXPECT_FALSE(p.errorString().isEmpty());
        if (row.line) {
            EXPECT_EQ(row.line, p.getCurrentLineNumber());
            EXPECT_GT(p.getCurrentColumnNumber(), 0);
        }
        EXPECT_TRUE(doc.getFirstChild().isNull());
        expectGoodParse(p);
        VexIDOM_Parser fresh(0);
        expectGoodParse(fresh);
        EXPECT_EQ(rc, parseText(fresh, row.xml, doc));
        EXPECT_TRUE(doc.getFirstChild().isNull());
    }
    EXPECT_FALSE(watch.touched()) << "the entity's file was opened";
    { std::ifstream f(secret); }  // the watch does see an open: the check above can fail
    EXPECT_TRUE(watch.touched());
    std::remove(secret.c_str());
}

// The parser's memory stays with the parser: a parsed document is made in
// Xerces' own memory, so it may outlive the parse's thread and go on another.
TEST(DomParse, DocumentOutlivesTheParsingThread)
{
    std::unique_ptr<VexIDOM_Document> doc;
    std::thread([&doc] {
        doc.reset(new VexIDOM_Document());
        VexIDOM_Parser p(0);
        ASSERT_EQ(0, parseText(p, GOOD, *doc));
    }).join();
    ASSERT_NE(nullptr, doc);
    auto* impl = dynamic_cast<XERCES_CPP_NAMESPACE::DOMDocumentImpl*>(doc->getXercesDocument());
    ASSERT_NE(nullptr, impl);
    EXPECT_EQ(XERCES_CPP_NAMESPACE::XMLPlatformUtils::fgMemoryManager, impl->getMemoryManager());
    EXPECT_EQ(GOOD, serialise(doc->getDocumentElement()));
    doc.reset();
}

TEST(DomWrite, EscapesExactly)
{
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "r"));
    VexIDOM_Element r = doc->getDocumentElement();
    r.setAttributeNS(nullptr, "a", "<&>\"'\t\n\r");
    r.appendChild(doc->createTextNode("1 < 2 && 3 > 2 ]]> \"q\" 'a'\r\n\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"));
    std::string out = serialise(r);
    EXPECT_EQ("<r a=\"&lt;&amp;&gt;&quot;'&#9;&#10;&#13;\">1 &lt; 2 &amp;&amp; 3 &gt; 2 ]]&gt; \"q\" 'a'&#13;\n"
              "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80</r>", out);
    VexIDOM_Document back;
    ASSERT_EQ(0, parseText(out, back));
    EXPECT_TRUE(r.isEqualNode(back.getDocumentElement()));

    // Long runs are checked eight characters at a time: a character to escape
    // or widen at each place of such a block, in text and in an attribute.
    const std::string runs = "abcdefghijklmno<pqrstuvw&xyzABCDEFGHIJK\x7fLMNOPQRS\"TUVWXYZ0123456\xC3\xA9" "789abcd>\t";
    VexIDOM_Element e = doc->createElement("e");
    e.setAttributeNS(nullptr, "a", runs.c_str());
    e.appendChild(doc->createTextNode(runs.c_str()));
    EXPECT_EQ("<e a=\"abcdefghijklmno&lt;pqrstuvw&amp;xyzABCDEFGHIJK\x7fLMNOPQRS&quot;TUVWXYZ0123456\xC3\xA9" "789abcd&gt;&#9;\">"
              "abcdefghijklmno&lt;pqrstuvw&amp;xyzABCDEFGHIJK\x7fLMNOPQRS\"TUVWXYZ0123456\xC3\xA9" "789abcd&gt;\t</e>",
              serialise(e));

    // A text longer than the pieces it is written in: a surrogate pair across
    // the end of a piece of non-ASCII characters stays whole.
    std::string eAcute = "\xC3\xA9", smile = "\xF0\x9F\x98\x80", sun = "\xE6\x97\xA5", longText;
    for (int i = 0; i < 4095; ++i)
        longText += eAcute;
    longText += smile + "<" + std::string(20000, 'x') + "&";
    for (int i = 0; i < 5000; ++i)
        longText += sun;
    VexIDOM_Element l = doc->createElement("l");
    l.appendChild(doc->createTextNode(longText.c_str()));
    std::string escaped = longText;
    escaped.replace(escaped.find('<'), 1, "&lt;").replace(escaped.find('&', escaped.find("&lt;") + 1), 1, "&amp;");
    EXPECT_EQ("<l>" + escaped + "</l>", serialise(l));
}

}  // namespace
