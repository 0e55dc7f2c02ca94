#include "api/SkarnProcess.h"
#include "platform/crypto/VexCrypto.h"

#include <gtest/gtest.h>

// The test main has started the process; every further call repeats all steps
// and keeps no count (one terminate stops the library), and the name is never read.
TEST(Process, InitialiseAndTerminateRepeatWhateverTheName)
{
    EXPECT_EQ(0, SkarnProcessInitialize(nullptr));
    EXPECT_EQ(0, SkarnProcessInitialize("anything"));
    EXPECT_NE(0, VexCrypto::isOpen());
    EXPECT_EQ(0, SkarnProcessTerminate(nullptr));
    EXPECT_EQ(0, VexCrypto::isOpen());
    EXPECT_EQ(0, SkarnCoreProcessInitialize(nullptr));
    EXPECT_NE(0, VexCrypto::isOpen());
    EXPECT_EQ(0, SkarnCoreProcessTerminate("x"));
    EXPECT_EQ(0, VexCrypto::isOpen());
    EXPECT_EQ(0, SkarnProcessInitialize("tests"));  // leave it started for the rest of the run
}
