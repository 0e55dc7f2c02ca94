// The parser kept per thread and documents hosted by another document's tree:
// a failed or hostile parse leaves nothing behind for the next one, parses on
// two threads do not meet, a hosted parse builds in the host's document and
// leaves the host's own settings alone, and the writer's tree walk.
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMException.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "platform/streams/QioIOException.h"
#include "support/FailingInputStream.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/framework/XMLErrorCodes.hpp>
#include <xercesc/util/XMLString.hpp>

#include <malloc.h>

#include <atomic>
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

struct Hostile {
    const char* label;
    std::string xml;
};

const Hostile HOSTILE[] = {
    {"external entity", "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>"},
    {"entity expansion", laughs()},
    {"internal subset", "<!DOCTYPE a [<!ATTLIST a d CDATA \"planted\">]><a/>"},
    {"unclosed", "<s:Envelope xmlns:s=\"urn:s\"><s:Body>"},
    {"undeclared prefix", "<p:a><b/></p:a>"},
    {"declaration 1.1", "<?xml version=\"1.1\"?><a><b>"},
};

const char* const GOOD = "<s:Envelope xmlns:s=\"urn:s\"><s:Body><v n=\"1\">x</v></s:Body></s:Envelope>";

// Parses with a parser object of its own; checks the result is GOOD's tree
// and that no error of an earlier parse shows.
void expectGoodParse(VexIDOM_Parser& p)
{
    VexIDOM_Document doc;
    MemoryInputStream in(GOOD);
    ASSERT_EQ(0, p.parse(in, doc));
    EXPECT_EQ(0, p.getErrorCode());
    EXPECT_EQ(0, p.getCurrentLineNumber());
    EXPECT_EQ(0, p.getCurrentColumnNumber());
    EXPECT_TRUE(p.errorString().isEmpty());
    EXPECT_EQ(GOOD, serialise(doc.getDocumentElement()));
    EXPECT_TRUE(doc.getDocumentElement().getNextSibling().isNull());
    // No attribute defaulted in by an earlier DTD.
    EXPECT_EQ("", doc.getDocumentElement().getAttribute("d").str());
}

TEST(DomParserReuse, HostileParseLeavesNothingForTheNext)
{
    for (const Hostile& h : HOSTILE) {
        SCOPED_TRACE(h.label);
        int firstCode;
        {
            VexIDOM_Document doc;
            MemoryInputStream in(h.xml);
            VexIDOM_Parser p(0);
            firstCode = p.parse(in, doc);
            EXPECT_NE(0, firstCode);
            EXPECT_TRUE(doc.getFirstChild().isNull());
            // The same object parses a good document next.
            expectGoodParse(p);
        }
        {
            // A new object on this thread (the kept parser) does too ...
            VexIDOM_Parser p(0);
            expectGoodParse(p);
        }
        {
            // ... and still refuses the hostile text with the same code.
            VexIDOM_Document doc;
            MemoryInputStream in(h.xml);
            VexIDOM_Parser p(0);
            EXPECT_EQ(firstCode, p.parse(in, doc));
            EXPECT_TRUE(doc.getFirstChild().isNull());
        }
    }
}

TEST(DomParserReuse, StreamFailureLeavesNothingForTheNext)
{
    {
        VexIDOM_Document doc;
        FailingInputStream in("<a><b>text", 3);
        VexIDOM_Parser p(0);
        EXPECT_THROW(p.parse(in, doc), QioIOException);
        EXPECT_TRUE(doc.getFirstChild().isNull());
    }
    VexIDOM_Parser p(0);
    expectGoodParse(p);
}

TEST(DomParserReuse, TwoParsersAliveOnOneThread)
{
    VexIDOM_Parser a(0);
    VexIDOM_Parser b(0);
    VexIDOM_Document da, db;
    MemoryInputStream bad("<a><b></a>");
    EXPECT_NE(0, a.parse(bad, da));
    MemoryInputStream good("<ok/>");
    EXPECT_EQ(0, b.parse(good, db));
    // a's error stays a's; b's success does not clear it, nor the reverse.
    EXPECT_NE(0, a.getErrorCode());
    EXPECT_EQ(1, a.getCurrentLineNumber());
    EXPECT_EQ(0, b.getErrorCode());
    EXPECT_EQ("ok", db.getDocumentElement().getTagName().str());
    expectGoodParse(a);
}

TEST(DomParserReuse, TwoThreadsParseAtOnce)
{
    const int ROUNDS = 300;
    std::atomic<int> wrong{0};
    auto work = [&](const std::string& name) {
        for (int i = 0; i < ROUNDS; ++i) {
            VexIDOM_Parser p(0);
            VexIDOM_Document doc;
            const Hostile& h = HOSTILE[static_cast<std::size_t>(i) % (sizeof HOSTILE / sizeof HOSTILE[0])];
            MemoryInputStream hostile(h.xml);
            if (p.parse(hostile, doc) == 0)
                ++wrong;
            std::string xml = "<" + name + " i=\"" + std::to_string(i) + "\"><v>" + name + "</v></" + name + ">";
            MemoryInputStream in(xml);
            if (p.parse(in, doc) != 0 || serialise(doc.getDocumentElement()) != xml || p.getErrorCode() != 0)
                ++wrong;
        }
    };
    std::thread one(work, "one");
    std::thread two(work, "two");
    one.join();
    two.join();
    EXPECT_EQ(0, wrong.load());
}

// Xerces keeps the names a parser meets; a kept parser is replaced before
// that adds up. 10 000 envelopes with names of their own held about 2 MB in
// one parser kept for all of them.
TEST(DomParserReuse, NamesOfManyParsesDoNotAddUp)
{
    auto parseUnique = [](int from, int count) {
        for (int i = from; i < from + count; ++i) {
            std::string u = std::to_string(i);
            std::string xml = "<p" + u + ":e" + u + " xmlns:p" + u + "=\"urn:x:" + u + "\" a" + u + "=\"v\"><c" + u +
                              "/></p" + u + ":e" + u + ">";
            VexIDOM_Document doc;
            MemoryInputStream in(xml);
            VexIDOM_Parser p(0);
            ASSERT_EQ(0, p.parse(in, doc));
        }
    };
    parseUnique(0, 2000);
    std::size_t before = mallinfo2().uordblks;
    parseUnique(1000000, 10000);
    std::size_t after = mallinfo2().uordblks;
    EXPECT_LT(after, before + (1u << 20)) << "grew by " << (after - before);
}

std::string xmlText(const XMLCh* s)
{
    std::string out;
    for (; s && *s; ++s)
        out += static_cast<char>(*s);
    return out;
}

// The document that hosts parses in these tests.
struct Host {
    Host() : doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder")) {}
    VexIDOM_Element node() { return doc->getDocumentElement(); }
    std::unique_ptr<VexIDOM_Document> doc;
};

TEST(DomHostedDocument, ParseBuildsInHostAndAppendMoves)
{
    Host host;
    VexIDOM_Element holder = host.node();
    {
        VexIDOM_Document hosted(holder);
        EXPECT_TRUE(hosted.isHosted());
        EXPECT_EQ(host.doc->getXercesDocument(), hosted.getXercesDocument());
        EXPECT_EQ(VexIDOM_Node::DOCUMENT_FRAGMENT_NODE, hosted.getNodeType());
        MemoryInputStream in(std::string("<!--c-->") + GOOD);
        VexIDOM_Parser p(0);
        ASSERT_EQ(0, p.parse(in, hosted));
        VexIDOM_Node first = hosted.getFirstChild();
        EXPECT_EQ(VexIDOM_Node::COMMENT_NODE, first.getNodeType());
        EXPECT_EQ(host.doc->getXercesDocument(), first.getXercesNode()->getOwnerDocument());
        EXPECT_EQ("s:Envelope", hosted.getDocumentElement().getTagName().str());
        VexIDOM_Element env = hosted.getDocumentElement();
        VexIDOM_Node moved = VexIDOM_Helper::appendChild(holder, env);
        EXPECT_TRUE(moved.isSameNode(env));
        EXPECT_TRUE(hosted.getDocumentElement().isNull());
        EXPECT_FALSE(hosted.getFirstChild().isNull());  // the comment stays behind
    }
    // The hosted document is gone; the host keeps what was appended.
    EXPECT_EQ(std::string("<holder>") + GOOD + "</holder>", serialise(holder));
}

TEST(DomHostedDocument, FailedParseKeepsChildrenAndHostChecks)
{
    Host host;
    VexIDOM_Element holder = host.node();
    VexIDOM_Document hosted(holder);
    VexIDOM_Parser p(0);
    MemoryInputStream first("<a/>");
    ASSERT_EQ(0, p.parse(first, hosted));
    MemoryInputStream bad("<b><c></b>");
    EXPECT_NE(0, p.parse(bad, hosted));
    EXPECT_EQ("<a/>", serialise(hosted));
    FailingInputStream broken("<b><c>", 2);
    EXPECT_THROW(p.parse(broken, hosted), QioIOException);
    EXPECT_EQ("<a/>", serialise(hosted));
    // The host checks its tree again after the parses (off while they ran).
    auto* impl = dynamic_cast<XERCES_CPP_NAMESPACE::DOMDocumentImpl*>(host.doc->getXercesDocument());
    ASSERT_NE(nullptr, impl);
    EXPECT_TRUE(impl->getErrorChecking());
    // A good parse replaces the children.
    MemoryInputStream second("<d/>");
    ASSERT_EQ(0, p.parse(second, hosted));
    EXPECT_EQ("<d/>", serialise(hosted));
    EXPECT_EQ("<holder/>", serialise(holder));
}

TEST(DomHostedDocument, HostDeclarationUntouched)
{
    const char* xml = "<?xml version=\"1.1\" encoding=\"ISO-8859-1\" standalone=\"yes\"?><a/>";
    // An ordinary document takes the declaration: the checks below can fail.
    VexIDOM_Document own;
    MemoryInputStream in1(xml);
    ASSERT_EQ(0, VexIDOM_Parser(0).parse(in1, own));
    EXPECT_EQ("1.1", xmlText(own.getXercesDocument()->getXmlVersion()));
    EXPECT_TRUE(own.getXercesDocument()->getXmlStandalone());

    Host host;
    XERCES_CPP_NAMESPACE::DOMDocument* d = host.doc->getXercesDocument();
    const std::string version = xmlText(d->getXmlVersion()), encoding = xmlText(d->getXmlEncoding()),
                      input = xmlText(d->getInputEncoding());
    const bool standalone = d->getXmlStandalone();
    EXPECT_NE("1.1", version);
    VexIDOM_Element holder = host.node();
    VexIDOM_Document hosted(holder);
    MemoryInputStream in2(xml);
    ASSERT_EQ(0, VexIDOM_Parser(0).parse(in2, hosted));
    EXPECT_EQ(version, xmlText(d->getXmlVersion()));
    EXPECT_EQ(standalone, d->getXmlStandalone());
    EXPECT_EQ(encoding, xmlText(d->getXmlEncoding()));
    EXPECT_EQ(input, xmlText(d->getInputEncoding()));
}

TEST(DomHostedDocument, DocumentNodeAndNullHosts)
{
    VexIDOM_Document empty;
    VexIDOM_Node emptyNode = empty;
    VexIDOM_Document hosted(emptyNode);
    EXPECT_TRUE(hosted.isHosted());
    MemoryInputStream in("<r><s/></r>");
    ASSERT_EQ(0, VexIDOM_Parser(0).parse(in, hosted));
    VexIDOM_Helper::appendChild(empty, hosted.getFirstChild());
    EXPECT_EQ("r", empty.getDocumentElement().getTagName().str());
    EXPECT_TRUE(hosted.getFirstChild().isNull());

    // Without a host: an ordinary document of its own.
    VexIDOM_Document plain{VexIDOM_Node()};
    EXPECT_FALSE(plain.isHosted());
    EXPECT_EQ(VexIDOM_Node::DOCUMENT_NODE, plain.getNodeType());
    MemoryInputStream in2("<q/>");
    ASSERT_EQ(0, VexIDOM_Parser(0).parse(in2, plain));
    EXPECT_EQ("q", plain.getDocumentElement().getTagName().str());
}

struct WalkCase {
    const char* label;
    const char* xml;
    const char* start;  // element written
    const char* want;
};

TEST(DomWriteWalk, SubtreeEndsAtItsElement)
{
    const WalkCase cases[] = {
        {"deep first child, siblings after", "<a><b><c><d/></c></b><e/></a>", "b", "<b><c><d/></c></b>"},
        {"last child", "<a><b/><e>t<f/></e></a>", "e", "<e>t<f/></e>"},
        {"leaf", "<a><b/><e/></a>", "b", "<b/>"},
        {"whole", "<a><b><c/>x</b>y<e/><!--z--></a>", "a", "<a><b><c/>x</b>y<e/><!--z--></a>"},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.label);
        VexIDOM_Document doc;
        MemoryInputStream in(c.xml);
        ASSERT_EQ(0, VexIDOM_Parser(0).parse(in, doc));
        EXPECT_EQ(c.want, serialise(VexIDOM_Helper::findFirstElement(doc, c.start)));
    }
}

TEST(DomWriteWalk, AttributeValuesFromTextOrEmpty)
{
    VexIDOM_Document doc;
    VexIDOM_Element a = doc.createElement("a");
    doc.appendChild(a);
    a.setAttribute("x", "1 & \"2\"");
    EXPECT_EQ("<a x=\"1 &amp; &quot;2&quot;\"/>", serialise(a));
    a.setAttribute("x", "");
    EXPECT_EQ("<a x=\"\"/>", serialise(a));
}

}  // namespace
