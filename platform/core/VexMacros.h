#ifndef VEX_MACROS_H
#define VEX_MACROS_H

// The raising idioms of the toolkit.
//
//   VEX_THROW(ex, "SkrHTTPParser::parseRequest");   adds (unit, line, function, "VEX_THROW"), throws
//   VEX_RETHROW(t, "SkrTheBus::getSession");         inside catch (VexThrowable& t): adds a
//                                                    "VEX_RETHROW" entry, rethrows the same object
//   VEX_ASSERT(m_session_sock);                      VexAssertError "VEX_ASSERT(m_session_sock);"
//
// VEX_ASSERT takes the condition text exactly as written, so the assertion text
// reads as the source does.

#include "platform/core/VexAssertError.h"
#include "platform/core/VexFileLocation.h"

#define VEX_THROW(ex, function) (ex).hurl(VEX_LOCATION, (function), "VEX_THROW")

#define VEX_RETHROW(t, function)                                  \
    do {                                                          \
        (t).addBackTrace(VEX_LOCATION, (function), "VEX_RETHROW"); \
        throw;                                                    \
    } while (0)

#define VEX_ASSERT(cond)                                                          \
    do {                                                                          \
        if (!(cond))                                                              \
            VexAssertError(0, "VEX_ASSERT(" #cond ");").hurl(VEX_LOCATION, nullptr, "VEX_ASSERT"); \
    } while (0)

#endif
