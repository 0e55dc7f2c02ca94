// The public bases: every slot a base implements itself fails with the
// not-supported exception, located in the base's own unit with its function text.
#include "api/Skarn.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnServerSession.h"
#include "api/SkarnSession.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

namespace {

// Host subclasses that implement only what is pure.
struct HostFactory : Skarn {
    using Skarn::setProperty;
    void setProperty(const std::string&, int) override {}
};
struct HostSession : SkarnSession {
    void release() override {}
};
struct HostServerSession : SkarnServerSession {
    void release() override {}
};

// Storage standing in for the objects the base bodies never touch.
alignas(16) char g_standIn[256];
template <class T> T& standIn() { return *reinterpret_cast<T*>(g_standIn); }

}  // namespace

TEST(PublicFrame, BaseSlotsAreNotSupported)
{
    HostFactory f;
    HostSession s;
    HostServerSession ss;
    char url[] = "http://localhost:1/x";
    VexIDOM_Element& el = standIn<VexIDOM_Element>();
    VexIDOM_Node& node = standIn<VexIDOM_Node>();
    SkarnMessageWriter& w = standIn<SkarnMessageWriter>();
    SkarnMessageReader& r = standIn<SkarnMessageReader>();
    const struct { const char* unit; const char* function; std::function<void()> call; } slots[] = {
        {"Skarn", "Skarn::setProperty", [&] { f.setProperty("k", std::string("v")); }},
        {"Skarn", "Skarn::getSession", [&] { f.getSession(url, nullptr, 0); }},
        {"SkarnSession", "SkarnSession::echo(1)", [&] { s.echo("f"); }},
        {"SkarnSession", "SkarnSession::doRequest", [&] { s.doRequest(el, node); }},
        {"SkarnSession", "SkarnSession::closeResponse", [&] { s.closeResponse(r); }},
        {"SkarnServerSession", "SkarnServerSession::respond", [&] { ss.respond(el); }},
        {"SkarnServerSession", "SkarnServerSession::closeResponse", [&] { ss.closeResponse(w); }},
    };
    for (const auto& slot : slots) {
        SCOPED_TRACE(slot.function);
        SkarnException e = expectSkarnError(slot.call, {0, 1841854490u, "", slot.function});
        ASSERT_EQ(1u, e.getBackTraceCount());
        EXPECT_EQ(slot.unit, e.getBackTraceAt(0).unit);
    }
}
