#include "api/CryptoError.h"
#include "api/SkarnException.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexMessageCatalog.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

TEST(SkarnException, CodeSeverityNameAndMessageChain)
{
    SkarnMessage m(1841456247u);
    m << VexMessageParm(I18NString("host:80")) << VexMessageParm(I18NString("no ://"));
    SkarnException e(1, SkarnException::errBadUrl, m);
    e << VexMessageString("first literal") << VexMessageString("second literal");
    EXPECT_EQ(30, e.getErrorCode());
    EXPECT_EQ(1, e.getSeverity());
    EXPECT_STREQ("SkarnException", e.getThrowableName());
    ASSERT_EQ(3u, e.getMessageCount());
    EXPECT_EQ(1841456247u, e.getMessageAt(0).getMsgNumber());
    EXPECT_STREQ("vexsktmsgs", e.getMessageAt(0).getMsgFile());
    EXPECT_EQ("host:80|no ://", parmsOf(e, 0));
    EXPECT_EQ("The URL \"host:80\" cannot be parsed: no ://.", e.getMessageAt(0).format().str());
    EXPECT_EQ("second literal", e.getMessageAt(2).format().str());

    SkarnException bare(1, SkarnException::errSocket);
    EXPECT_EQ(0u, bare.getMessageCount());
    EXPECT_EQ(5, bare.getErrorCode());
}

TEST(SkarnException, CopyAssignCloneAreIndependent)
{
    SkarnMessage m(1841392216u);
    SkarnException a(1, SkarnException::errSocket, m);
    a.addBackTrace(VEX_LOCATION, "first", "VEX_THROW");

    SkarnException copy(a);
    copy << VexMessageString("only in the copy");
    EXPECT_EQ(1u, a.getMessageCount());
    EXPECT_EQ(2u, copy.getMessageCount());
    EXPECT_EQ(1u, copy.getBackTraceCount());

    SkarnException assigned(1, SkarnException::errBadUrl);
    assigned = a;
    EXPECT_EQ(5, assigned.getErrorCode());
    EXPECT_EQ(1u, assigned.getMessageCount());
    assigned = assigned;  // self-assignment changes nothing
    EXPECT_EQ(1u, assigned.getMessageCount());
    EXPECT_EQ("first", assigned.getBackTraceAt(0).function);

    std::unique_ptr<VexThrowable> cloned(a.clone());
    SkarnException* c = dynamic_cast<SkarnException*>(cloned.get());
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(a.getErrorCode(), c->getErrorCode());
    EXPECT_EQ(a.getMessage().str(), c->getMessage().str());
    *c << VexMessageString("only in the clone");
    EXPECT_EQ(1u, a.getMessageCount());
    EXPECT_EQ(2u, c->getMessageCount());
}

TEST(SkarnException, HurlAddsOneEntryAndThrowsByValue)
{
    SkarnMessage m(1842183075u);
    SkarnException e(1, SkarnException::errUnexpectedEnd, m);
    try {
        VexThrowable& t = e;
        t.hurl(VexFileLocation("/src/http/SkrHTTPParser.cpp", 42), "SkrHTTPParser::parseRequest", "VEX_THROW");
        FAIL() << "hurl returned";
    } catch (const SkarnException& thrown) {
        EXPECT_NE(&thrown, &e);
        ASSERT_EQ(1u, thrown.getBackTraceCount());
        const VexBackTraceEntry& entry = thrown.getBackTraceAt(0);
        EXPECT_EQ("SkrHTTPParser", entry.unit);
        EXPECT_EQ(42, entry.line);
        EXPECT_EQ("SkrHTTPParser::parseRequest", entry.function);
        EXPECT_EQ("VEX_THROW", entry.macro);
        I18NString text = const_cast<SkarnException&>(thrown).toString();
        EXPECT_NE(std::string::npos, text.str().find("SkarnException code=6 severity=1"));
        EXPECT_NE(std::string::npos, text.str().find("1842183075: The input ended"));
        EXPECT_NE(std::string::npos, text.str().find("at SkrHTTPParser:42 SkrHTTPParser::parseRequest [VEX_THROW]"));
    }
}

TEST(SkarnException, RaiseBuildsTheWholeIdiom)
{
    SkarnException e = expectSkarnError(
        [] {
            SkarnException::raise(VEX_LOCATION, "SkrAttachmentReader::getInputStream",
                                  SkarnException::errTransferEncoding, {"BASE64"}, "literal");
        },
        {29, 1841438350u, "literal", "SkrAttachmentReader::getInputStream"});
    EXPECT_EQ("BASE64", parmsOf(e));
    EXPECT_EQ("SkarnExceptionTest", e.getBackTraceAt(0).unit);
}

// Every code the toolkit raises has its catalogue text (not the fallback that
// names the number), and the text has a place for each parameter its sites fill.
TEST(Catalogue, EveryRaisedCodeHasItsText)
{
    struct Row {
        SkarnException::mirraErrorCode code;
        unsigned int number;
        int places;
    };
    const Row rows[] = {
        {SkarnException::errNotSupported, 1841854490u, 0},
        {SkarnException::errNoAddress, 1841617768u, 3},
        {SkarnException::errWriterState, 1841881513u, 0},
        {SkarnException::errSocket, 1841392216u, 1},
        {SkarnException::errUnexpectedEnd, 1842183075u, 0},
        {SkarnException::errBadMethod, 1841924072u, 0},
        {SkarnException::errBadHttpVersion, 1841455314u, 0},
        {SkarnException::errBadRequestLine, 1842181424u, 0},
        {SkarnException::errBadStatusLine, 1841628141u, 0},
        {SkarnException::errBadContentType, 1841604849u, 0},
        {SkarnException::errBadBoundary, 1841445727u, 0},
        {SkarnException::errBadContentId, 1841604980u, 0},
        {SkarnException::errBadContentLength, 1841768624u, 0},
        {SkarnException::errBadTransferEncoding, 1842158018u, 0},
        {SkarnException::errEnvelope16, 1842023855u, 3},
        {SkarnException::errEnvelope17, 1842090207u, 0},
        {SkarnException::errEnvelope18, 1841551851u, 1},
        {SkarnException::errNotMultipart, 1841683373u, 0},
        {SkarnException::errMultipartStructure, 1842200362u, 0},
        {SkarnException::errMissingConfigValue, 1842308005u, 1},
        {SkarnException::errHostName, 1841643536u, 1},
        {SkarnException::errBadQuotedPrintableEscape, 1842266981u, 2},
        {SkarnException::errBadQuotedPrintableSoftBreak, 1841908908u, 2},
        {SkarnException::errTransferEncoding, 1841438350u, 1},
        {SkarnException::errBadUrl, 1841456247u, 2},
        {SkarnException::errHostNotResolved, 1842289512u, 2},
    };
    ASSERT_FALSE(VexMessageCatalog::locate("vexsktmsgs").empty());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.number);
        EXPECT_EQ(r.number, SkarnException::messageNumberOf(r.code));
        std::string text;
        ASSERT_TRUE(VexMessageCatalog::lookup("vexsktmsgs", r.number, text));
        EXPECT_FALSE(text.empty());
        for (int p = 1; p <= r.places; ++p)
            EXPECT_NE(std::string::npos, text.find("%" + std::to_string(p))) << "place %" << p;
        EXPECT_EQ(std::string::npos, text.find("%" + std::to_string(r.places + 1)));
        EXPECT_FALSE(SkarnMessage(r.number).format().isEmpty());
    }
    // A number the catalogue lacks still formats, as its file, number and parameters.
    SkarnMessage unknown(123u);
    unknown << VexMessageParm(I18NString("p"));
    EXPECT_EQ("vexsktmsgs 123: p", unknown.format().str());
}

TEST(CryptoError, DescribeFormatsFunctionAndResult)
{
    I18NString out("stale");
    EXPECT_EQ("QSM_Accept=0x2a ", CryptoError(nullptr, "QSM_Accept", 42).describe(out).str());
    EXPECT_EQ("QSM_Connect=0xfffffff3 ", CryptoError(nullptr, "QSM_Connect", -13).describe(out).str());
    EXPECT_EQ("", CryptoError(nullptr, "", 5).describe(out).str());
    EXPECT_EQ("", CryptoError(nullptr, nullptr, 5).describe(out).str());
    std::string name118(118, 'f');
    EXPECT_EQ(name118 + "=0x1 ", CryptoError(nullptr, name118.c_str(), 1).describe(out).str());
    std::string name119(119, 'f');
    EXPECT_EQ("", CryptoError(nullptr, name119.c_str(), 1).describe(out).str());
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
    try {
        VEX_GUARDED_NEW("site", new ThrowsOnConstruction(0));
        FAIL();
    } catch (const VexOutOfMemoryError& e) {
        ASSERT_EQ(1u, e.getBackTraceCount());
        EXPECT_EQ("", e.getBackTraceAt(0).function);
        EXPECT_EQ("VEX_THROW", e.getBackTraceAt(0).macro);
        EXPECT_EQ("SkarnExceptionTest", e.getBackTraceAt(0).unit);
    }
    try {
        VEX_GUARDED_NEW("site", new ThrowsOnConstruction(1));
        FAIL();
    } catch (const VexStdExceptionError& e) {
        ASSERT_EQ(1u, e.getMessageCount());
        EXPECT_EQ("std::length_error: too long", e.getMessageAt(0).format().str());
        EXPECT_EQ(1u, e.getBackTraceCount());
    }
    try {
        VEX_GUARDED_NEW("site", new ThrowsOnConstruction(2));
        FAIL();
    } catch (const SkarnException& e) {
        ASSERT_EQ(2u, e.getBackTraceCount());
        EXPECT_EQ("ThrowsOnConstruction", e.getBackTraceAt(0).function);
        EXPECT_EQ("site", e.getBackTraceAt(1).function);
        EXPECT_EQ("VEX_RETHROW", e.getBackTraceAt(1).macro);
    }
    // A null result is an allocation that yielded nothing: raised inside the
    // block, it also passes the rethrow handler.
    try {
        VEX_GUARDED_NEW("site", static_cast<int*>(nullptr));
        FAIL();
    } catch (const VexOutOfMemoryError& e) {
        ASSERT_EQ(2u, e.getBackTraceCount());
        EXPECT_EQ("VEX_THROW", e.getBackTraceAt(0).macro);
        EXPECT_EQ("VEX_RETHROW", e.getBackTraceAt(1).macro);
    }
    std::unique_ptr<int> fine(VEX_GUARDED_NEW("site", new int(7)));
    EXPECT_EQ(7, *fine);
}
