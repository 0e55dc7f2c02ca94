#include "platform/dom/VexIDOM_DOMException.h"

#include "platform/core/VexMessageString.h"

VexIDOM_DOMException::VexIDOM_DOMException(int code, const char* text) : VexException(VEX_SEVERITY_ERROR, code)
{
    addMessage(VexMessageString(text ? text : ""));
}

VexIDOM_DOMException::~VexIDOM_DOMException() = default;
