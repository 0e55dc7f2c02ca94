#ifndef VEX_ASSERT_ERROR_H
#define VEX_ASSERT_ERROR_H

#include "VexError.h"

// A failed assertion; its text is the assertion as written, "VEX_ASSERT(cond);".
VEX_DECLARE_ERROR(VexAssertError)

#endif
