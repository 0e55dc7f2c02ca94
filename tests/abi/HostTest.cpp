// A host built against the public headers and linked to libskarn.so.
#include "api/Skarn.h"
#include "api/SkarnException.h"
#include "api/SkarnProcess.h"
#include "platform/streams/QioIOTimeoutException.h"

#include <gtest/gtest.h>

namespace {

class HostFactory : public Skarn {
public:
    using Skarn::setProperty;
    void setProperty(const std::string&, int) override {}
};

}  // namespace

TEST(AbiHost, CatchesToolkitExceptionsByType)
{
    ASSERT_EQ(0, SkarnProcessInitialize(nullptr));
    HostFactory f;
    try {
        f.getServerSession(nullptr);
        FAIL();
    } catch (const SkarnException& e) {
        EXPECT_EQ(SkarnException::errNotSupported, e.getErrorCode());
        EXPECT_EQ(1841854490u, e.getMessageAt(0).getMsgNumber());
        EXPECT_EQ("Skarn::getServerSession", e.getBackTraceAt(0).function);
        EXPECT_EQ("The operation is not supported by this class.", e.getMessageAt(0).format().str());
    }
    try {
        QioIOTimeoutException(0).hurl(VEX_LOCATION, "host", "VEX_THROW");
    } catch (const VexThrowable& t) {
        EXPECT_STREQ("QioIOTimeoutException", t.getThrowableName());
    }
    EXPECT_EQ(0, SkarnProcessTerminate(nullptr));
}
