#ifndef SKARN_TEST_RAISED_H
#define SKARN_TEST_RAISED_H

#include "platform/core/VexException.h"

#include <functional>
#include <string>
#include <type_traits>

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

#endif
