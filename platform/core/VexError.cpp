#include "platform/core/VexError.h"

#include "platform/core/VexMessageString.h"

VexError::VexError(int code, const char* text) : VexException(VEX_SEVERITY_ERROR, code)
{
    if (text)
        addMessage(VexMessageString(text));
}

VexError::~VexError() = default;
