#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexDowncastSize.h"
#include "platform/core/VexFmDir.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexMessageCatalog.h"
#include "platform/core/VexThread.h"
#include "platform/core/VexTolkThreadLocal.h"
#include "platform/core/VexUtConvert.h"

#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

TEST(VexByteBuffer, TrimRemovesLineEndAndSurroundingBlanks)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"Host: x\r\n", "Host: x"}, {"  \t a b \t\r\n", "a b"}, {"\r\n", ""}, {"", ""},
        {"\n", ""},                 {"x", "x"},                  {" \x0b\x0c x", "x"},
    };
    for (const Case& c : cases) {
        VexByteBuffer b(4, 4);
        b.append(c.in);
        b.trim();
        EXPECT_STREQ(c.out, b.getData()) << c.in;
        EXPECT_EQ(std::string(c.out).size(), b.length());
    }
}

TEST(VexByteBuffer, GrowsKeepsBytesAndStaysTerminated)
{
    VexByteBuffer b(1, 1);
    std::string expect;
    for (int i = 0; i < 1000; ++i) {
        char c = static_cast<char>(i);  // every byte value, NUL included
        b.append(c);
        expect += c;
    }
    b.append("tail");
    expect += "tail";
    ASSERT_EQ(expect.size(), b.length());
    EXPECT_EQ(expect, std::string(b.getData(), b.length()));
    EXPECT_EQ('\0', b.getData()[b.length()]);

    VexByteBuffer copy(b);
    b.reset();
    EXPECT_EQ(0u, b.length());
    EXPECT_EQ(expect, std::string(copy.getData(), copy.length()));

    char* tail = b.reserveTail(3);
    tail[0] = 'a';
    tail[1] = 'b';
    b.commit(2);
    EXPECT_STREQ("ab", b.getData());
    b.append(nullptr);
    b.append("x", 0);
    EXPECT_EQ(2u, b.length());
}

TEST(VexAssert, TextIsTheAssertionAsWritten)
{
    const char* m_session_sock = nullptr;
    try {
        VEX_ASSERT(m_session_sock);
        FAIL();
    } catch (const VexAssertError& e) {
        ASSERT_EQ(1u, e.getMessageCount());
        EXPECT_EQ("VEX_ASSERT(m_session_sock);", e.getMessageAt(0).format().str());
        EXPECT_EQ(0u, e.getMessageAt(0).getMsgNumber());
        EXPECT_EQ(0, e.getErrorCode());
        ASSERT_EQ(1u, e.getBackTraceCount());
        EXPECT_EQ("CoreTest", e.getBackTraceAt(0).unit);
        EXPECT_EQ("VEX_ASSERT", e.getBackTraceAt(0).macro);
        EXPECT_STREQ("VexAssertError", e.getThrowableName());
    }
    int m_take = 5, m_eob = 4;
    try {
        VEX_ASSERT(m_take <= m_eob);
        FAIL();
    } catch (const VexAssertError& e) {
        EXPECT_EQ("VEX_ASSERT(m_take <= m_eob);", e.getMessageAt(0).format().str());
    }
    EXPECT_NO_THROW(VEX_ASSERT(m_eob < m_take));
}

TEST(VexRethrow, AddsOneEntryToTheSameObject)
{
    try {
        try {
            VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "Owner::op - wrong state", "VEX_THROW");
        } catch (VexThrowable& t) {
            VEX_RETHROW(t, "Caller::op");
        }
    } catch (const VexIllegalStateError& e) {
        ASSERT_EQ(2u, e.getBackTraceCount());
        EXPECT_EQ("Owner::op - wrong state", e.getBackTraceAt(0).function);
        EXPECT_EQ("Caller::op", e.getBackTraceAt(1).function);
        EXPECT_EQ("VEX_RETHROW", e.getBackTraceAt(1).macro);
        EXPECT_EQ(0u, e.getMessageCount());
    }
}

TEST(VexDowncastSize, NarrowsOrRaises)
{
    EXPECT_EQ(5, VexDowncastSize<int>(5u));
    EXPECT_EQ(2147483647, VexDowncastSize<int>(2147483647u));
    EXPECT_THROW(VexDowncastSize<int>(2147483648u), VexIllegalArgumentError);
    EXPECT_THROW(VexDowncastSize<unsigned>(-1), VexIllegalArgumentError);
    EXPECT_THROW(VexDowncastSize<int>(static_cast<unsigned long long>(1) << 40), VexIllegalArgumentError);
    EXPECT_EQ(65535u, VexDowncastSize<unsigned short>(65535));
    EXPECT_THROW(VexDowncastSize<unsigned short>(65536), VexIllegalArgumentError);
}

TEST(VexUtConvert, LowerCaseAndHex)
{
    char text[] = "Content-TYPE";
    EXPECT_STREQ("content-type", VexUtConvert::strlwr(text));
    std::string s = "X-Tolk-ID";
    EXPECT_EQ("x-tolk-id", VexUtConvert::strlwr(s));
    EXPECT_EQ(nullptr, VexUtConvert::strlwr(static_cast<char*>(nullptr)));
    const unsigned char crlf[] = {0x0D, 0x0A, 0xFF};
    EXPECT_EQ("0D0AFF", VexUtConvert::hexCvt(crlf, 3));
    EXPECT_EQ("3D", VexUtConvert::hexCvt('='));
    EXPECT_EQ("-1", VexUtConvert::hexCvt(-1));
    EXPECT_STREQ("0x", VexUtConvert::getHexPrefix());
}

TEST(VexFmDir, RelativePathsFollowSkarnHome)
{
    {
        ScopedEnv home("SKARN_HOME", "/opt/skarn/bin");
        EXPECT_EQ("/opt/skarn/bin/../logs/x", VexFmDir::resolveEffectivePath("../logs/x"));
        EXPECT_EQ("/abs/path", VexFmDir::resolveEffectivePath("/abs/path"));
    }
    {
        ScopedEnv home("SKARN_HOME", nullptr);
        EXPECT_EQ("../logs/x", VexFmDir::resolveEffectivePath("../logs/x"));
    }

    EXPECT_NE(0, VexFmDir::exists("vexsktmsgs", VexFmDir::FILE_KIND));  // tests run in the build's bin folder
    EXPECT_EQ(0, VexFmDir::exists(".", VexFmDir::FILE_KIND));
    EXPECT_NE(0, VexFmDir::exists(".", VexFmDir::DIRECTORY_KIND));
    EXPECT_EQ(0, VexFmDir::exists("no/such/file", 0));
}

TEST(VexTolk, DataIsPerThread)
{
    VexTolkData* mine = VexTolkThreadLocal::getInstance()->getTolkData();
    mine->clear();
    EXPECT_FALSE(mine->isSet());
    mine->setTolkID("id-1");
    mine->setTolkStep("7");
    EXPECT_TRUE(mine->isSet());
    EXPECT_EQ(8, mine->incrTolkStep());
    EXPECT_EQ(8, mine->getTolkStep());
    mine->setTolkSrc(nullptr);
    EXPECT_STREQ("", mine->getTolkSrc());

    bool otherSet = true;
    std::thread other([&] { otherSet = VexTolkThreadLocal::getInstance()->getTolkData()->isSet(); });
    other.join();
    EXPECT_FALSE(otherSet);
    EXPECT_STREQ("x-tolk-step", VexTolkData::getTolkHeaderStepString());
    mine->clear();
}

namespace {
int g_slept = 0;
void fakeSleep(int seconds) { g_slept += seconds; }
}  // namespace

TEST(VexThread, SleepCanBeReplaced)
{
    VexThread::setSleepFunction(&fakeSleep);
    VexThread::sleep(2);
    VexThread::sleep(2);
    VexThread::setSleepFunction(nullptr);
    EXPECT_EQ(4, g_slept);
}

TEST(VexMessageCatalog, SubstitutesNumberedPlaces)
{
    std::vector<I18NString> parms = {I18NString("a"), I18NString("b")};
    EXPECT_EQ("b then a, 100% and ", VexMessageCatalog::substitute("%2 then %1, 100%% and %3", parms));
    EXPECT_EQ("trailing %", VexMessageCatalog::substitute("trailing %", parms));
}
