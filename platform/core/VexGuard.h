#ifndef VEX_GUARD_H
#define VEX_GUARD_H

// Guarded allocation: every heap creation of a toolkit object runs inside one
// try block with three handlers, so that nothing but a VexThrowable leaves it:
//   VexThrowable&   -> one back-trace entry (this place, `function`, "VEX_RETHROW"), rethrown
//   std::bad_alloc& -> VexOutOfMemoryError raised here, no function text
//   std::exception& -> VexStdExceptionError raised here, no function text
// A null pointer result raises VexOutOfMemoryError inside the block, so it also
// gains the rethrow entry.
//
//   SkrSession* s = VEX_GUARDED_NEW("SkrTheBus::getSession", new SkrSession(...));
//   VEX_GUARDED("Skarn::getSessionFactory", { ... any statements ... });

#include "platform/core/VexOutOfMemoryError.h"
#include "platform/core/VexStdExceptionError.h"

#include <new>
#include <type_traits>

template <class Make>
auto vexGuarded(const VexFileLocation& location, const char* function, Make&& make) -> decltype(make())
{
    using Result = decltype(make());
    try {
        if constexpr (std::is_void_v<Result>) {
            make();
        } else {
            Result result = make();
            if constexpr (std::is_pointer_v<Result>) {
                if (result == nullptr)
                    VexOutOfMemoryError(0, nullptr).hurl(location, nullptr, "VEX_THROW");
            }
            return result;
        }
    } catch (VexThrowable& t) {
        t.addBackTrace(location, function, "VEX_RETHROW");
        throw;
    } catch (std::bad_alloc&) {
        VexOutOfMemoryError(0, nullptr).hurl(location, nullptr, "VEX_THROW");
    } catch (std::exception& e) {
        VexStdExceptionError(e).hurl(location, nullptr, "VEX_THROW");
    }
}

#define VEX_GUARDED_NEW(function, expr) vexGuarded(VEX_LOCATION, (function), [&]() { return (expr); })
#define VEX_GUARDED(function, block) vexGuarded(VEX_LOCATION, (function), [&]() block)

#endif
