// The main of every test program: the toolkit is started for the whole run and
// stopped at its end, as a host does.
#include "api/SkarnProcess.h"

#include <gtest/gtest.h>

namespace {

class ProcessEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(0, SkarnProcessInitialize("tests")); }
    void TearDown() override { SkarnProcessTerminate("tests"); }
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ProcessEnvironment);
    return RUN_ALL_TESTS();
}
