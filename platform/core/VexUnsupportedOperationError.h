#ifndef VEX_UNSUPPORTED_OPERATION_ERROR_H
#define VEX_UNSUPPORTED_OPERATION_ERROR_H

#include "VexError.h"

// An operation that this object does not offer in its current mode.
VEX_DECLARE_ERROR(VexUnsupportedOperationError)

#endif
