#include "platform/streams/QioIOException.h"

#include "platform/core/VexMessageString.h"

QioIOException::QioIOException(int code, const char* text) : VexException(1, code)
{
    if (text)
        addMessage(VexMessageString(text));
}

QioIOException::~QioIOException() = default;
