#include "api/SkarnException.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexMessageCatalog.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(SkarnException, MessagesAndHurl)
{
    SkarnMessage m(1841456247u);
    m << VexMessageParm(I18NString("host:80")) << VexMessageParm(I18NString("no ://"));
    SkarnException e(1, SkarnException::errBadUrl, m);
    e << VexMessageString("first literal") << VexMessageString("second literal");
    EXPECT_EQ(30, e.getErrorCode());
    ASSERT_EQ(3u, e.getMessageCount());
    EXPECT_EQ("The URL \"host:80\" cannot be parsed: no ://.", e.getMessageAt(0).format().str());
    EXPECT_EQ("second literal", e.getMessageAt(2).format().str());

    // hurl throws a copy with one entry more, located by its unit and line.
    SkarnMessage endMessage(1842183075u);
    SkarnException end(1, SkarnException::errUnexpectedEnd, endMessage);
    try {
        static_cast<VexThrowable&>(end).hurl(VexFileLocation("/src/http/SkrHTTPParser.cpp", 42), "SkrHTTPParser::parseRequest",
                                             "VEX_THROW");
    } catch (SkarnException& thrown) {
        EXPECT_EQ("6: SkrHTTPParser::parseRequest [VEX_THROW]", traceOf(thrown));
        const std::string text = thrown.toString().str();
        EXPECT_NE(std::string::npos, text.find("at SkrHTTPParser:42 SkrHTTPParser::parseRequest [VEX_THROW]")) << text;
    }
    e = expectSkarnError([] { SkarnException::raise(VEX_LOCATION, "Site::op", SkarnException::errTransferEncoding, {"BASE64"}, "literal"); },
                         {29, 1841438350u, "literal", "Site::op"});
    EXPECT_EQ("BASE64", parmsOf(e));
    EXPECT_EQ("SkarnExceptionTest", e.getBackTraceAt(0).unit);
}

// Every code the toolkit raises maps to its message, whose catalogue text (not
// the fallback naming the number) has a place for each parameter its sites fill.
TEST(Catalogue, EveryRaisedCodeHasItsText)
{
    using X = SkarnException;
    const struct { X::mirraErrorCode code; unsigned int number; int places; } rows[] = {
        {X::errNotSupported, 1841854490u, 0},
        {X::errNoAddress, 1841617768u, 3},
        {X::errBadBoundary, 1841445727u, 0},
        {X::errEnvelope16, 1842023855u, 3},
        {X::errEnvelope18, 1841551851u, 1},
        {X::errBadQuotedPrintableEscape, 1842266981u, 2},
        {X::errHostNotResolved, 1842289512u, 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.number);
        EXPECT_EQ(r.number, X::messageNumberOf(r.code));
        std::string text;
        ASSERT_TRUE(VexMessageCatalog::lookup("vexsktmsgs", r.number, text));
        EXPECT_FALSE(text.empty());
        for (int p = 1; p <= r.places; ++p)
            EXPECT_NE(std::string::npos, text.find("%" + std::to_string(p))) << "place %" << p;
        EXPECT_EQ(std::string::npos, text.find("%" + std::to_string(r.places + 1)));
    }
    SkarnMessage unknown(123u);
    unknown << VexMessageParm(I18NString("p"));
    EXPECT_EQ("vexsktmsgs 123: p", unknown.format().str());
}

namespace {
struct ThrowsOnConstruction {
    explicit ThrowsOnConstruction(int kind)
    {
        if (kind == 0)
            throw std::bad_alloc();
        if (kind == 1)
            throw std::length_error("too long");
        SkarnException::raise(VEX_LOCATION, "ThrowsOnConstruction", SkarnException::errSocket);
    }
};
}  // namespace

TEST(GuardedAllocation, StandardExceptionsLeaveAsCoreErrors)
{
    EXPECT_EQ("0:  [VEX_THROW]", raised<VexOutOfMemoryError>([] { VEX_GUARDED_NEW("site", new ThrowsOnConstruction(0)); }));
    EXPECT_EQ("0:  [VEX_THROW]", raised<VexStdExceptionError>([] { VEX_GUARDED_NEW("site", new ThrowsOnConstruction(1)); }));
    EXPECT_EQ("5: ThrowsOnConstruction [VEX_THROW] < site [VEX_RETHROW]",
              raised<SkarnException>([] { VEX_GUARDED_NEW("site", new ThrowsOnConstruction(2)); }));
}
