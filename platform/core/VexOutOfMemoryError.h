#ifndef VEX_OUT_OF_MEMORY_ERROR_H
#define VEX_OUT_OF_MEMORY_ERROR_H

#include "VexError.h"

// An allocation that yielded nothing.
VEX_DECLARE_ERROR(VexOutOfMemoryError)

#endif
