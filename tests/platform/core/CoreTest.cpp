#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexDowncastSize.h"
#include "platform/core/VexFmDir.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexMessageCatalog.h"
#include "platform/core/VexTolkThreadLocal.h"
#include "platform/core/VexUtConvert.h"
#include "support/Raised.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <thread>

TEST(VexByteBuffer, TrimGrowAndTail)
{
    const char* const cases[][2] = {{"Host: x\r\n", "Host: x"}, {"  \t a b \t\r\n", "a b"}, {"\r\n", ""}, {"", ""}, {"\n", ""}, {"x", "x"}, {" \x0b\x0c x", "x"}};
    for (const auto& c : cases) {
        VexByteBuffer b(4, 4);
        b.append(c[0]);
        b.trim();
        EXPECT_EQ(c[1], std::string(b.getData(), b.length())) << c[0];
        EXPECT_EQ('\0', b.getData()[b.length()]);
    }
    VexByteBuffer b(1, 1);
    std::string expect;
    for (int i = 0; i < 1000; ++i) {  // every byte value, NUL included
        b.append(static_cast<char>(i));
        expect += static_cast<char>(i);
    }
    b.append("tail");
    EXPECT_EQ(expect + "tail", std::string(b.getData(), b.length()));
    EXPECT_EQ('\0', b.getData()[b.length()]);
    VexByteBuffer copy(b);
    b.reset();
    EXPECT_EQ(expect + "tail", std::string(copy.getData(), copy.length()));
    char* tail = b.reserveTail(3);
    tail[0] = 'a';
    tail[1] = 'b';
    b.commit(2);
    b.append(nullptr);
    b.append("x", 0);
    EXPECT_EQ("ab", std::string(b.getData(), b.length()));
}

TEST(VexThrowable, AssertTextAndRethrow)
{
    const char* m_session_sock = nullptr;
    int m_take = 5, m_eob = 4;
    for (int which : {0, 1}) {
        try {
            if (which)
                VEX_ASSERT(m_take <= m_eob);
            else
                VEX_ASSERT(m_session_sock);
            FAIL();
        } catch (const VexAssertError& e) {
            ASSERT_EQ(1u, e.getMessageCount());
            EXPECT_EQ(which ? "VEX_ASSERT(m_take <= m_eob);" : "VEX_ASSERT(m_session_sock);", e.getMessageAt(0).format().str());
            EXPECT_EQ(0u, e.getMessageAt(0).getMsgNumber());
            EXPECT_EQ("0:  [VEX_ASSERT]", traceOf(e));
            EXPECT_EQ("CoreTest", e.getBackTraceAt(0).unit);
            EXPECT_STREQ("VexAssertError", e.getThrowableName());
        }
    }
    VEX_ASSERT(m_eob < m_take);
    // A rethrow adds one entry to the same object.
    EXPECT_EQ("0: Owner::op - wrong state [VEX_THROW] < Caller::op [VEX_RETHROW]", raised<VexIllegalStateError>([] {
                  try {
                      VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "Owner::op - wrong state", "VEX_THROW");
                  } catch (VexThrowable& t) {
                      VEX_RETHROW(t, "Caller::op");
                  }
              }));
}

TEST(VexCoreHelpers, DowncastConvertCatalogue)
{
    EXPECT_EQ(2147483647, VexDowncastSize<int>(2147483647u));
    EXPECT_EQ(65535u, VexDowncastSize<unsigned short>(65535));
    EXPECT_THROW(VexDowncastSize<int>(2147483648u), VexIllegalArgumentError);
    EXPECT_THROW(VexDowncastSize<unsigned>(-1), VexIllegalArgumentError);
    EXPECT_THROW(VexDowncastSize<int>(static_cast<unsigned long long>(1) << 40), VexIllegalArgumentError);
    EXPECT_THROW(VexDowncastSize<unsigned short>(65536), VexIllegalArgumentError);
    char text[] = "Content-TYPE";
    EXPECT_STREQ("content-type", VexUtConvert::strlwr(text));
    std::string name = "X-Tolk-ID";
    EXPECT_EQ("x-tolk-id", VexUtConvert::strlwr(name));
    EXPECT_EQ(nullptr, VexUtConvert::strlwr(static_cast<char*>(nullptr)));
    const unsigned char crlf[] = {0x0D, 0x0A, 0xFF};
    EXPECT_EQ("0D0AFF 3D -1", VexUtConvert::hexCvt(crlf, 3) + " " + VexUtConvert::hexCvt('=') + " " + VexUtConvert::hexCvt(-1));
    std::vector<I18NString> parms = {I18NString("a"), I18NString("b")};
    EXPECT_EQ("b then a, 100% and ", VexMessageCatalog::substitute("%2 then %1, 100%% and %3", parms));
    EXPECT_EQ("trailing %", VexMessageCatalog::substitute("trailing %", parms));
}

TEST(VexFmDir, RelativePathsFollowSkarnHome)
{
    {
        ScopedEnv home("SKARN_HOME", "/opt/skarn/bin");
        EXPECT_EQ("/opt/skarn/bin/../logs/x", VexFmDir::resolveEffectivePath("../logs/x"));
        EXPECT_EQ("/abs/path", VexFmDir::resolveEffectivePath("/abs/path"));
    }
    ScopedEnv home("SKARN_HOME", nullptr);
    EXPECT_EQ("../logs/x", VexFmDir::resolveEffectivePath("../logs/x"));
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
    EXPECT_EQ(8, mine->incrTolkStep());
    mine->setTolkSrc(nullptr);
    EXPECT_STREQ("", mine->getTolkSrc());
    bool otherSet = true;
    std::thread other([&] { otherSet = VexTolkThreadLocal::getInstance()->getTolkData()->isSet(); });
    other.join();
    EXPECT_FALSE(otherSet);
    EXPECT_TRUE(mine->isSet());
    mine->clear();
}
