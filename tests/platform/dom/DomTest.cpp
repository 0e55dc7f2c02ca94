// The DOM layer: safe parsing, UTF-8 text in and out, serialisation that
// Xerces parses back to the same tree, and the helpers the toolkit calls.
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMException.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "platform/dom/XmlUrl.h"
#include "platform/streams/QioIOException.h"
#include "support/MemoryInputStream.h"

#include "api/SkarnProcess.h"

#include <gtest/gtest.h>

#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/util/XMLException.hpp>

#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

class StringDomWriter : public DomWriter {
public:
    void writeChars(const char* data, unsigned length) override
    {
        out.append(data, length);
        ++calls;
    }
    std::string out;
    int calls = 0;
};

std::string serialise(const VexIDOM_Node& n)
{
    StringDomWriter w;
    VexIDOM_Helper::write(n, w);
    return w.out;
}

// Parses `xml` into `doc`; returns the parser's result.
int parseText(const std::string& xml, VexIDOM_Document& doc, unsigned maxRead = 0)
{
    MemoryInputStream in(xml, maxRead);
    VexIDOM_Parser p(0);
    return p.parse(in, doc);
}

const char* const ENVELOPE =
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:m=\"urn:mirra:test\">"
    "<soap:Header><m:Trace m:level=\"2\">t-1</m:Trace></soap:Header>"
    "<soap:Body><m:Echo xmlns=\"urn:default\"><Text lang=\"fr\">caf\xC3\xA9 &amp; &lt;tag&gt; \"q\" 'a'</Text>"
    "<n:Other xmlns:n=\"urn:other\"/><plain xmlns=\"\">x</plain><!--note--><![CDATA[a<b]]><?pi data?>"
    "</m:Echo></soap:Body></soap:Envelope>";

TEST(DomParse, WellFormedEnvelopeGivesTreeWithNamespaces)
{
    VexIDOM_Document doc;
    ASSERT_EQ(0, parseText(ENVELOPE, doc));
    VexIDOM_Element root = doc.getDocumentElement();
    EXPECT_EQ("soap:Envelope", root.getTagName().str());
    EXPECT_EQ("Envelope", root.getLocalName().str());
    EXPECT_EQ("soap", root.getPrefix().str());
    EXPECT_EQ("http://schemas.xmlsoap.org/soap/envelope/", root.getNamespaceURI().str());
    VexIDOM_Element text = VexIDOM_Helper::findFirstElement(doc, "Text");
    ASSERT_FALSE(text.isNull());
    EXPECT_EQ("urn:default", text.getNamespaceURI().str());
    EXPECT_EQ("caf\xC3\xA9 & <tag> \"q\" 'a'", VexIDOM_Helper::getElementText(text).str());
    EXPECT_EQ("fr", text.getAttribute("lang").str());
    VexIDOM_Element trace = VexIDOM_Helper::findFirstElement(doc, "m:Trace");
    EXPECT_EQ("2", trace.getAttributeNS("urn:mirra:test", "level").str());
    EXPECT_EQ(0, VexIDOM_Parser(0).getErrorCode());
}

TEST(DomParse, ByteByByteGivesSameTree)
{
    VexIDOM_Document whole, bytes;
    ASSERT_EQ(0, parseText(ENVELOPE, whole));
    ASSERT_EQ(0, parseText(ENVELOPE, bytes, 1));
    EXPECT_TRUE(whole.getDocumentElement().isEqualNode(bytes.getDocumentElement()));
}

struct BadCase {
    const char* label;
    const char* xml;
    int line;
};

TEST(DomParse, NotWellFormedFailsWithPosition)
{
    const BadCase cases[] = {
        {"unclosed element", "<a><b></a>", 1},
        {"second line", "<a>\n<b x=1/></a>", 2},
        {"empty input", "", 0},
        {"text only", "hello", 1},
        {"two roots", "<a/><b/>", 1},
        {"bad utf-8", "<a>\xC3\x28</a>", 1},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.label);
        VexIDOM_Document doc;
        MemoryInputStream in(c.xml);
        VexIDOM_Parser p(0);
        int rc = p.parse(in, doc);
        EXPECT_NE(0, rc);
        EXPECT_EQ(rc, p.getErrorCode());
        EXPECT_FALSE(p.errorString().isEmpty());
        if (c.line) {
            EXPECT_EQ(c.line, p.getCurrentLineNumber());
            EXPECT_GT(p.getCurrentColumnNumber(), 0);
        }
        EXPECT_TRUE(doc.getFirstChild().isNull());
    }
}

TEST(DomParse, DoctypeIsRefused)
{
    VexIDOM_Document doc;
    MemoryInputStream in("<?xml version=\"1.0\"?><!DOCTYPE a [<!ELEMENT a ANY>]><a/>");
    VexIDOM_Parser p(0);
    EXPECT_EQ(XERCES_CPP_NAMESPACE::XMLErrs::InvalidDocumentStructure, p.parse(in, doc));
    EXPECT_EQ(1, p.getCurrentLineNumber());
    EXPECT_EQ("invalid document structure", p.errorString().str());
    // The same document without its DOCTYPE is fine.
    MemoryInputStream plain("<?xml version=\"1.0\"?><a/>");
    EXPECT_EQ(0, p.parse(plain, doc));
}

// Watches a file for any open or read while a parse runs.
class FileAccessWatch {
public:
    explicit FileAccessWatch(const std::string& path)
    {
        m_fd = inotify_init1(IN_NONBLOCK);
        m_wd = inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~FileAccessWatch() { close(m_fd); }
    bool ok() const { return m_fd >= 0 && m_wd >= 0; }
    bool touched()
    {
        char buf[4096];
        ssize_t n = ::read(m_fd, buf, sizeof buf);
        return n > 0;
    }

private:
    int m_fd;
    int m_wd;
};

TEST(DomParse, ExternalEntityFileIsNeverOpened)
{
    std::string path = testing::TempDir() + "skarn_secret_" + std::to_string(getpid()) + ".txt";
    { std::ofstream(path) << "SECRET"; }
    std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + path +
                      "\">]><a>&x;</a>";
    FileAccessWatch watch(path);
    ASSERT_TRUE(watch.ok());
    VexIDOM_Document doc;
    VexIDOM_Parser p(0);
    MemoryInputStream in(xml);
    EXPECT_NE(0, p.parse(in, doc));
    EXPECT_FALSE(watch.touched());
    // The watch does see an open: the check above can fail.
    { std::ifstream f(path); std::string s; f >> s; EXPECT_EQ("SECRET", s); }
    EXPECT_TRUE(watch.touched());
    std::remove(path.c_str());
}

TEST(DomParse, NestedEntityExpansionFailsFast)
{
    std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    xml += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
    for (int i = 2; i <= 9; ++i) {
        std::string prev = "&lol" + std::to_string(i - 1) + ";";
        xml += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += prev;
        xml += "\">";
    }
    xml += "]><lolz>&lol9;</lolz>";
    auto t0 = std::chrono::steady_clock::now();
    VexIDOM_Document doc;
    EXPECT_NE(0, parseText(xml, doc));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

// A stream that fails after delivering some bytes: the failure reaches the
// caller unchanged, the parse is not reported as a syntax error.
class FailingStream : public MemoryInputStream {
public:
    FailingStream() : MemoryInputStream("<a><b>", 0) {}
    unsigned read(char* buffer, unsigned length) override
    {
        unsigned n = MemoryInputStream::read(buffer, length);
        if (n == END)
            QioIOException(QioIOException::errTruncated, "peer gone").hurl(VEX_LOCATION, "FailingStream::read", "VEX_THROW");
        return n;
    }
};

TEST(DomParse, StreamFailurePassesThrough)
{
    VexIDOM_Document doc;
    FailingStream in;
    VexIDOM_Parser p(0);
    try {
        p.parse(in, doc);
        FAIL() << "nothing thrown";
    } catch (const QioIOException& e) {
        EXPECT_EQ(QioIOException::errTruncated, e.getErrorCode());
    }
    // The parser is usable again afterwards.
    MemoryInputStream good("<ok/>");
    EXPECT_EQ(0, p.parse(good, doc));
    EXPECT_EQ("ok", doc.getDocumentElement().getTagName().str());
}

TEST(DomParse, FileParseAnswersOneOnSuccess)
{
    std::string path = testing::TempDir() + "skarn_conf_" + std::to_string(getpid()) + ".xml";
    { std::ofstream(path) << "<cfg><SKARN_CONNECTION_TIMEOUT>30000</SKARN_CONNECTION_TIMEOUT></cfg>"; }
    VexIDOM_Document doc;
    VexIDOM_Parser p(0);
    EXPECT_EQ(1, p.parse(path.c_str(), doc));
    EXPECT_EQ("30000", VexIDOM_Helper::getElementText(VexIDOM_Helper::findFirstElement(doc, "SKARN_CONNECTION_TIMEOUT")).str());
    { std::ofstream(path) << "<cfg>"; }
    EXPECT_EQ(0, p.parse(path.c_str(), doc));
    EXPECT_EQ(0, p.parse((path + ".missing").c_str(), doc));
    std::remove(path.c_str());
}

TEST(DomWrite, ParsedEnvelopeRoundTripsToEqualTree)
{
    VexIDOM_Document doc;
    ASSERT_EQ(0, parseText(ENVELOPE, doc));
    std::string out = serialise(doc.getDocumentElement());
    VexIDOM_Document again;
    ASSERT_EQ(0, parseText(out, again)) << out;
    EXPECT_TRUE(doc.getDocumentElement().isEqualNode(again.getDocumentElement())) << out;
    // Prefixes and declarations are kept as written.
    EXPECT_EQ(0u, out.find("<soap:Envelope "));
    EXPECT_NE(std::string::npos, out.find(" xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\""));
    EXPECT_NE(std::string::npos, out.find("<m:Echo xmlns=\"urn:default\">"));
}

TEST(DomWrite, EscapesExactly)
{
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "r"));
    VexIDOM_Element r = doc->getDocumentElement();
    r.setAttributeNS(nullptr, "a", "<&>\"'\t\n\r");
    r.appendChild(doc->createTextNode("1 < 2 && 3 > 2 ]]> \"q\" 'a'\r\n\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"));
    std::string out = serialise(r);
    EXPECT_EQ("<r a=\"&lt;&amp;&gt;&quot;'&#9;&#10;&#13;\">1 &lt; 2 &amp;&amp; 3 &gt; 2 ]]&gt; \"q\" 'a'&#13;\n"
              "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80</r>",
              out);
    VexIDOM_Document back;
    ASSERT_EQ(0, parseText(out, back));
    EXPECT_TRUE(r.isEqualNode(back.getDocumentElement()));
}

TEST(DomWrite, DocumentGetsDeclarationAndNewLine)
{
    class LineWriter : public StringDomWriter {
    public:
        void writeNewLine() override { out += "<NL>"; }
    };
    VexIDOM_Document doc;
    ASSERT_EQ(0, parseText("<a><b/><!--c--></a>", doc));
    LineWriter w;
    VexIDOM_Helper::write(doc, w);
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><NL><a><b/><!--c--></a>", w.out);
}

TEST(DomWrite, BuiltTreeGetsMissingNamespaceDeclarations)
{
    std::unique_ptr<VexIDOM_Document> doc(
        VexIDOM_DOMImplementation::getImplementation().createDocument("urn:env", "soap:Envelope"));
    VexIDOM_Element env = doc->getDocumentElement();
    VexIDOM_Element body = doc->createElementNS("urn:env", "soap:Body");
    env.appendChild(body);
    VexIDOM_Element op = doc->createElementNS("urn:op", "Op");
    op.setAttributeNS("urn:attr", "x:flag", "1");
    body.appendChild(op);
    VexIDOM_Element bare = doc->createElementNS(nullptr, "bare");
    op.appendChild(bare);
    std::string out = serialise(env);
    EXPECT_EQ("<soap:Envelope xmlns:soap=\"urn:env\"><soap:Body><Op x:flag=\"1\" xmlns=\"urn:op\" xmlns:x=\"urn:attr\">"
              "<bare xmlns=\"\"/></Op></soap:Body></soap:Envelope>",
              out);
    VexIDOM_Document back;
    ASSERT_EQ(0, parseText(out, back));
    VexIDOM_Element op2 = VexIDOM_Helper::findFirstElement(back, "Op");
    EXPECT_EQ("urn:op", op2.getNamespaceURI().str());
    EXPECT_EQ("1", op2.getAttributeNS("urn:attr", "flag").str());
    EXPECT_EQ("", VexIDOM_Helper::findFirstElement(back, "bare").getNamespaceURI().str());
}

TEST(DomWrite, LargeOutputComesInFewPieces)
{
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "r"));
    VexIDOM_Element r = doc->getDocumentElement();
    for (int i = 0; i < 5000; ++i) {
        VexIDOM_Element e = doc->createElementNS(nullptr, "item");
        e.appendChild(doc->createTextNode("some text & more"));
        r.appendChild(e);
    }
    StringDomWriter w;
    VexIDOM_Helper::write(r, w);
    EXPECT_GT(w.out.size(), 100000u);
    EXPECT_LT(w.calls, static_cast<int>(w.out.size() / 8000));
    VexIDOM_Document back;
    ASSERT_EQ(0, parseText(w.out, back));
    EXPECT_TRUE(r.isEqualNode(back.getDocumentElement()));
}

TEST(DomWrite, WriterBaseWritesTextWithoutNul)
{
    StringDomWriter w;
    w.writeText("abc");
    w.writeText(nullptr);
    w.writeNewLine();
    EXPECT_EQ("abc\n", w.out);
    EXPECT_STREQ("UTF-8", w.getOutputEncoding());
}

TEST(DomHelper, AppendChildImportsForeignNode)
{
    VexIDOM_Document parsed;
    ASSERT_EQ(0, parseText("<resp><v>1</v></resp>", parsed));
    std::unique_ptr<VexIDOM_Document> target(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder"));
    VexIDOM_Element holder = target->getDocumentElement();
    VexIDOM_Node added = VexIDOM_Helper::appendChild(holder, parsed.getFirstChild());
    EXPECT_TRUE(added.isEqualNode(parsed.getDocumentElement()));
    EXPECT_TRUE(holder.getFirstChild().isSameNode(added));
    EXPECT_FALSE(added.isSameNode(parsed.getDocumentElement()));
    EXPECT_EQ("<holder><resp><v>1</v></resp></holder>", serialise(holder));
}

TEST(DomHelper, RefusedAppendRaisesDomException)
{
    VexIDOM_Document doc;
    ASSERT_EQ(0, parseText("<a/>", doc));
    VexIDOM_Document other;
    ASSERT_EQ(0, parseText("<b/>", other));
    // A document holds one root element only.
    try {
        VexIDOM_Helper::appendChild(doc, other.getDocumentElement());
        FAIL() << "nothing thrown";
    } catch (const VexIDOM_DOMException& e) {
        EXPECT_EQ(3, e.getCode());  // HIERARCHY_REQUEST_ERR
        EXPECT_EQ("VexIDOM_Helper::appendChild", e.getBackTraceAt(0).function);
    }
    try {
        VexIDOM_Node none;
        VexIDOM_Helper::appendChild(none, doc);
        FAIL() << "nothing thrown";
    } catch (const VexIDOM_DOMException& e) {
        EXPECT_EQ(VexIDOM_DOMException::NOT_FOUND_ERR, e.getCode());
    }
}

TEST(DomHelper, ElementFromNonElementIsTypeMismatch)
{
    VexIDOM_Document doc;
    ASSERT_EQ(0, parseText("<a>t</a>", doc));
    try {
        VexIDOM_Element e(doc.getDocumentElement().getFirstChild());
        FAIL() << "nothing thrown";
    } catch (const VexIDOM_DOMException& e) {
        EXPECT_EQ(VexIDOM_DOMException::TYPE_MISMATCH_ERR, e.getCode());
    }
    try {
        doc.createElement("not a name");
        FAIL() << "nothing thrown";
    } catch (const VexIDOM_DOMException& e) {
        EXPECT_EQ(VexIDOM_DOMException::INVALID_CHARACTER_ERR, e.getCode());
    }
}

TEST(DomHelper, FindFirstElementInDocumentOrder)
{
    VexIDOM_Document doc;
    ASSERT_EQ(0, parseText("<r><x><k>1</k></x><k>2</k><p:k xmlns:p=\"u\">3</p:k></r>", doc));
    EXPECT_EQ("1", VexIDOM_Helper::getElementText(VexIDOM_Helper::findFirstElement(doc, "k")).str());
    EXPECT_TRUE(VexIDOM_Helper::findFirstElement(doc, "none").isNull());
    EXPECT_EQ("", VexIDOM_Helper::getElementText(VexIDOM_Element()).str());
    VexIDOM_NodeList all = doc.getDocumentElement().getElementsByTagNameNS("u", "k");
    ASSERT_EQ(1u, all.getLength());
    EXPECT_EQ("3", all.item(0).getTextContent().str());
    EXPECT_TRUE(all.item(5).isNull());
}

TEST(DomUrl, PartsOfUrl)
{
    struct Case {
        const char* url;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://example.test:8080/svc/echo", "example.test", 8080, "/svc/echo"},
        {"http://127.0.0.1/a?b=1", "127.0.0.1", 80, "/a?b=1"},
        {"https://h.test", "h.test", 443, "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        XmlUrl u(c.url);
        EXPECT_EQ(c.host, u.getHost().str());
        EXPECT_EQ(c.port, u.getPort());
        EXPECT_EQ(c.path, u.getPath().str());
    }
    EXPECT_THROW(XmlUrl("no scheme at all"), XERCES_CPP_NAMESPACE::XMLException);
    EXPECT_THROW(XmlUrl("http://h:99999999999/"), XERCES_CPP_NAMESPACE::XMLException);
}

TEST(DomProcess, XercesFollowsProcessFunctions)
{
    // A second initialise/terminate pair leaves the layer usable: Xerces
    // counts the pairs, and the test environment's pair is still open.
    ASSERT_EQ(0, SkarnProcessInitialize("again"));
    EXPECT_EQ(0, SkarnProcessTerminate("again"));
    VexIDOM_Document doc;
    EXPECT_EQ(0, parseText("<still-works/>", doc));
}

}  // namespace
