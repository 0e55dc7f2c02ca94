#ifndef VEX_ILLEGAL_ARGUMENT_ERROR_H
#define VEX_ILLEGAL_ARGUMENT_ERROR_H

#include "VexError.h"

// An argument (a property key, a null where data is needed) that is not accepted.
VEX_DECLARE_ERROR(VexIllegalArgumentError)

#endif
