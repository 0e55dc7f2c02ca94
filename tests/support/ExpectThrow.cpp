#include "support/ExpectThrow.h"

SkarnException expectSkarnError(const std::function<void()>& body, const ExpectedSkarnError& want)
{
    try {
        body();
    } catch (const SkarnException& e) {
        EXPECT_EQ(want.code, e.getErrorCode());
        EXPECT_EQ(1, e.getSeverity());
        EXPECT_EQ(want.literal.empty() ? 1u : 2u, e.getMessageCount());
        if (e.getMessageCount() >= 1) {
            EXPECT_EQ(want.message, e.getMessageAt(0).getMsgNumber());
        }
        if (!want.literal.empty() && e.getMessageCount() >= 2) {
            EXPECT_EQ(0u, e.getMessageAt(1).getMsgNumber());
            EXPECT_EQ(want.literal, e.getMessageAt(1).format().str());
        }
        EXPECT_GE(e.getBackTraceCount(), 1u);
        if (e.getBackTraceCount() >= 1) {
            EXPECT_EQ(want.function, e.getBackTraceAt(0).function);
            EXPECT_EQ("VEX_THROW", e.getBackTraceAt(0).macro);
        }
        return e;
    } catch (const VexThrowable& t) {
        ADD_FAILURE() << "expected SkarnException, got " << t.getThrowableName();
    }
    ADD_FAILURE() << "expected SkarnException code " << want.code << ", nothing was thrown";
    return SkarnException(1, SkarnException::errNotSupported);
}

std::string parmsOf(const VexException& e, std::size_t i)
{
    std::string out;
    const VexMessageBase& m = e.getMessageAt(i);
    for (std::size_t p = 0; p < m.getParmCount(); ++p) {
        if (p)
            out += '|';
        out += m.getParmAt(p).str();
    }
    return out;
}
