#ifndef VEX_ILLEGAL_STATE_ERROR_H
#define VEX_ILLEGAL_STATE_ERROR_H

#include "VexError.h"

// An operation called in a state that does not allow it.
VEX_DECLARE_ERROR(VexIllegalStateError)

#endif
