#ifndef SKARN_TEST_EXPECT_THROW_H
#define SKARN_TEST_EXPECT_THROW_H

#include "api/SkarnException.h"
#include "platform/core/VexAssertError.h"
#include "platform/core/VexException.h"
#include "platform/core/VexIllegalStateError.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Checks of what tests raise, one header for all of them.

// A throwable as one comparable text: its error code (for exceptions), then
// each back-trace entry innermost first, "code: function [MACRO] < function [MACRO]".
inline std::string traceOf(const VexThrowable& t)
{
    std::string out;
    if (const VexException* e = dynamic_cast<const VexException*>(&t))
        out = std::to_string(e->getErrorCode()) + ": ";
    for (std::size_t i = 0; i < t.getBackTraceCount(); ++i)
        out += (i ? " < " : "") + t.getBackTraceAt(i).function + " [" + t.getBackTraceAt(i).macro + "]";
    return out;
}

// Runs `body`, which must raise E; traceOf the throwable, or what happened instead.
template <class E>
std::string raised(const std::function<void()>& body)
{
    try {
        body();
    } catch (const E& e) {
        return traceOf(e);
    } catch (const VexThrowable& t) {
        return std::string("raised ") + t.getThrowableName() + " " + traceOf(t);
    }
    return "nothing raised";
}

// What a test expects of a raised SkarnException: code, the catalogue message
// number of its first message, the literal text of a second message (empty:
// none), and the function text of the first back-trace entry.
struct ExpectedSkarnError {
    int code;
    unsigned int message;
    std::string literal;
    std::string function;
};

// Runs `body`, which must raise a SkarnException, and checks it against `want`.
// Returns the exception for further checks.
SkarnException expectSkarnError(const std::function<void()>& body, const ExpectedSkarnError& want);

// The texts of all parameters of message `i`, joined with '|'.
std::string parmsOf(const VexException& e, std::size_t i = 0);

// Runs `body`, which must fail an assertion; the assertion's text
// ("VEX_ASSERT(buf);"), or what happened instead.
inline std::string assertionText(const std::function<void()>& body)
{
    try {
        body();
    } catch (const VexAssertError& e) {
        EXPECT_EQ("VEX_ASSERT", e.getBackTraceAt(0).macro);
        return e.getMessageCount() ? e.getMessageAt(0).format().str() : std::string("(no text)");
    } catch (const VexThrowable& t) {
        return std::string("raised ") + t.getThrowableName();
    }
    return "nothing raised";
}

// Runs `body`, which must raise VexIllegalStateError by VEX_THROW; the
// function text of its first back-trace entry, or what happened instead.
inline std::string illegalStateText(const std::function<void()>& body)
{
    try {
        body();
    } catch (const VexIllegalStateError& e) {
        EXPECT_EQ("VEX_THROW", e.getBackTraceAt(0).macro);
        return e.getBackTraceAt(0).function;
    } catch (const VexThrowable& t) {
        return std::string("raised ") + t.getThrowableName();
    }
    return "nothing raised";
}

// Runs `body`; a VexThrowable escaping it becomes a test failure that names
// the throwable and its function, so that a table test shows the row it came from.
inline void noThrowable(const std::function<void()>& body)
{
    try {
        body();
    } catch (const VexThrowable& t) {
        ADD_FAILURE() << "raised " << t.getThrowableName() << " in "
                      << (t.getBackTraceCount() ? t.getBackTraceAt(0).function : std::string("?"));
    }
}

#endif
