#ifndef VEX_UNEXPECTED_ERROR_H
#define VEX_UNEXPECTED_ERROR_H

#include "VexError.h"

// A required facility that is not available ("cannot open Crypto lib").
VEX_DECLARE_ERROR(VexUnexpectedError)

#endif
