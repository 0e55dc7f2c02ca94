#ifndef VEX_DOWNCAST_SIZE_H
#define VEX_DOWNCAST_SIZE_H

#include "platform/core/VexIllegalArgumentError.h"

#include <limits>
#include <type_traits>

// Checked narrowing of a count: VexDowncastSize<int>(length) gives the same
// value in the narrower type, or raises VexIllegalArgumentError
// "VexDowncastSize: value out of range" when it does not fit.
template <class To, class From>
To VexDowncastSize(From value)
{
    static_assert(std::is_integral_v<To> && std::is_integral_v<From>, "integral types only");
    bool fits;
    if constexpr (std::is_signed_v<From> == std::is_signed_v<To>) {
        fits = value >= std::numeric_limits<To>::min() && value <= std::numeric_limits<To>::max();
    } else if constexpr (std::is_signed_v<From>) {
        fits = value >= 0 && static_cast<std::make_unsigned_t<From>>(value) <= std::numeric_limits<To>::max();
    } else {
        fits = value <= static_cast<std::make_unsigned_t<To>>(std::numeric_limits<To>::max());
    }
    if (!fits)
        VexIllegalArgumentError(0, "VexDowncastSize: value out of range")
            .hurl(VexFileLocation("VexDowncastSize.h", __LINE__), "VexDowncastSize", "VEX_THROW");
    return static_cast<To>(value);
}

#endif
