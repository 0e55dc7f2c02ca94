// A core start that fails: its result comes back, the secure library stays stopped.
#include "api/SkarnProcess.h"
#include "platform/core/VexCore.h"
#include "platform/crypto/VexCrypto.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// A core module whose start answers what the test sets (0: started).
std::atomic<int> g_startResult{0};
int scriptedStart() { return g_startResult.load(); }
const int g_registered = vexRegisterModule("scripted-start", &scriptedStart, nullptr);

TEST(ProcessFailure, CoreStartFailureLeavesTheSecureLibraryAlone)
{
    ASSERT_EQ(1, g_registered);
    SkarnProcessTerminate(nullptr);
    ASSERT_EQ(0, VexCrypto::isOpen());
    g_startResult = 7;
    EXPECT_EQ(7, SkarnProcessInitialize("tests"));
    EXPECT_EQ(0, VexCrypto::isOpen());
    EXPECT_EQ(7, SkarnCoreProcessInitialize("tests"));
    EXPECT_EQ(0, VexCrypto::isOpen());
    g_startResult = 0;
    EXPECT_EQ(0, SkarnProcessInitialize("tests"));  // started again for the rest of the run
    EXPECT_NE(0, VexCrypto::isOpen());
}

}  // namespace
