// The public bases: every slot a base implements itself fails with the
// not-supported exception, located in the base's own unit with its function text.
#include "api/Skarn.h"
#include "api/SkarnAttachmentReader.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnServerSession.h"
#include "api/SkarnSession.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

namespace {

// Host subclasses that implement only what is pure.
class HostFactory : public Skarn {
public:
    using Skarn::setProperty;
    void setProperty(const std::string&, int) override {}
};

class HostSession : public SkarnSession {
public:
    void release() override {}
};

class HostServerSession : public SkarnServerSession {
public:
    explicit HostServerSession(SkarnSocket* s = nullptr) : SkarnServerSession(s) {}
    void release() override {}
};

struct Writer : SkarnMessageWriter {
    using SkarnMessageWriter::SkarnMessageWriter;
    void setEnvelope(VexIDOM_Node&) override {}
    QioOutputStream& openEnvelope(const char*) override { throw 0; }
    QioOutputStream& openEnvelope() override { throw 0; }
    void closeEnvelope(QioOutputStream&) override {}
    void addAttachment(const char*, const char*, const char*, const char*, unsigned, const char*) override {}
    void addAttachment(const char*, const char*, const char*, unsigned, const char*) override {}
    void addAttachment(VexIDOM_Node&, const char*) override {}
    QioOutputStream& openAttachment(const char*, const char*, const char*, const char*, int) override { throw 0; }
    QioOutputStream& openAttachment(const char*, const char*, const char*, int) override { throw 0; }
    void closeAttachment(QioOutputStream&) override {}
    std::string* getNewAttachmentID() override { return nullptr; }
    void close() override {}
    void setResponseStatus(int, const char*) override {}
};
struct Reader : SkarnMessageReader {
    using SkarnMessageReader::SkarnMessageReader;
    void getEnvelope(VexIDOM_Node&) override {}
    QioInputStream& openEnvelope() override { throw 0; }
    void closeEnvelope(QioInputStream&) override {}
    int canHaveAttachments() override { return 0; }
    int hasMoreAttachments() override { return 0; }
    SkarnAttachmentReader& openNextAttachment() override { throw 0; }
    void closeAttachment(SkarnAttachmentReader&) override {}
    const char* getHeader(const char*) override { return nullptr; }
};

// Storage that stands in for DOM objects the base bodies never touch.
alignas(16) char g_domStandIn[64];
VexIDOM_Element& someElement() { return *reinterpret_cast<VexIDOM_Element*>(g_domStandIn); }
VexIDOM_Node& someNode() { return *reinterpret_cast<VexIDOM_Node*>(g_domStandIn); }

struct Slot {
    const char* unit;
    const char* function;
    std::function<void()> call;
};

void checkSlots(const std::vector<Slot>& slots)
{
    for (const Slot& s : slots) {
        SCOPED_TRACE(s.function);
        SkarnException e = expectSkarnError(s.call, {0, 1841854490u, "", s.function});
        ASSERT_EQ(1u, e.getBackTraceCount());
        EXPECT_EQ(s.unit, e.getBackTraceAt(0).unit);
        EXPECT_GT(e.getBackTraceAt(0).line, 0);
        EXPECT_EQ("SkarnException", std::string(e.getThrowableName()));
    }
}

}  // namespace

TEST(PublicFrame, FactorySlotsAreNotSupported)
{
    HostFactory f;
    char url[] = "http://localhost:1/x";
    char doc[] = "<sessionConfigDocument/>";
    VexIDOM_Element& element = someElement();
    checkSlots({
        {"Skarn", "Skarn::setProperty", [&] { f.setProperty("k", std::string("v")); }},
        {"Skarn", "Skarn::getSession", [&] { f.getSession(url, nullptr, 0); }},
        {"Skarn", "Skarn::getSession", [&] { f.getSession(element, nullptr, 0); }},
        {"Skarn", "Skarn::getSession", [&] { f.getSession("localhost", 80, "/", nullptr, 0); }},
        {"Skarn", "Skarn::getServerSocket(3)", [&] { f.getServerSocket(url, 80, doc); }},
        {"Skarn", "Skarn::getServerSocket(2)", [&] { f.getServerSocket(80, doc); }},
        {"Skarn", "Skarn::getServerSession", [&] { f.getServerSession(nullptr); }},
        {"Skarn", "Skarn::GetSocket", [&] { f.getSocket(); }},
    });
}

TEST(PublicFrame, SessionSlotsAreNotSupported)
{
    HostSession s;
    VexIDOM_Element& element = someElement();
    VexIDOM_Node& node = someNode();
    Writer w;
    Reader r(0);
    const char* u = "SkarnSession";
    checkSlots({
        {u, "SkarnSession::setProperty", [&] { s.setProperty("chunk-size", 5); }},
        {u, "SkarnSession::setProperty", [&] { s.setProperty("Host", std::string("h")); }},
        {u, "SkarnSession::echo(1)", [&] { s.echo("f"); }},
        {u, "SkarnSession::echo(3)", [&] { s.echo("f", "w", 1); }},
        {u, "SkarnSession::doRequest", [&] { s.doRequest(element, node); }},
        {u, "SkarnSession::sendRequest", [&] { s.sendRequest(element); }},
        {u, "SkarnSession::getResponse", [&] { s.getResponse(node); }},
        {u, "SkarnSession::openRequest", [&] { s.openRequest(0); }},
        {u, "SkarnSession::closeRequest", [&] { s.closeRequest(w); }},
        {u, "SkarnSession::openResponse", [&] { s.openResponse(); }},
        {u, "SkarnSession::closeResponse", [&] { s.closeResponse(r); }},
    });
}

TEST(PublicFrame, ServerSessionSlotsAreNotSupported)
{
    HostServerSession s;
    VexIDOM_Element& element = someElement();
    VexIDOM_Node& node = someNode();
    Writer w;
    Reader r(0);
    const char* u = "SkarnServerSession";
    checkSlots({
        {u, "SkarnServerSession::setProperty", [&] { s.setProperty("boundary", 1); }},
        {u, "SkarnServerSession::setProperty", [&] { s.setProperty("boundary", std::string("b")); }},
        {u, "SkarnServerSession::echo(1)", [&] { s.echo("f"); }},
        {u, "SkarnServerSession::echo(3)", [&] { s.echo("f", "a", 0); }},
        {u, "SkarnServerSession::readRequestEnvelope", [&] { s.readRequestEnvelope(node); }},
        {u, "SkarnServerSession::respond", [&] { s.respond(element); }},
        {u, "SkarnServerSession::openRequest", [&] { s.openRequest(); }},
        {u, "SkarnServerSession::closeRequest", [&] { s.closeRequest(r); }},
        {u, "SkarnServerSession::openResponse", [&] { s.openResponse(1); }},
        {u, "SkarnServerSession::closeResponse", [&] { s.closeResponse(w); }},
    });
}

TEST(PublicFrame, BaseDataStartsAsDocumented)
{
    Writer plain;
    EXPECT_EQ(0, plain.isRequest());
    EXPECT_EQ(0, plain.hasAttachments());
    EXPECT_EQ(200, plain.getResponseStatusCode());
    EXPECT_STREQ("OK", plain.getResponseReason());
    Writer request(1, 1);
    EXPECT_EQ(1, request.isRequest());
    EXPECT_EQ(1, request.hasAttachments());

    EXPECT_EQ(1, Reader(1).isRequest());
    EXPECT_EQ(0, Reader(0).isRequest());

    SkarnSocket* sock = reinterpret_cast<SkarnSocket*>(0x10);
    HostServerSession served(sock);
    EXPECT_EQ(sock, served.getServerSocket());
    EXPECT_EQ(nullptr, HostServerSession().getServerSocket());
}
