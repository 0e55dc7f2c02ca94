#include "platform/streams/QioIOTimeoutException.h"

QioIOTimeoutException::QioIOTimeoutException(int /*reserved*/)
    : QioIOException(errTimeout, "read timed out")
{
}

QioIOTimeoutException::~QioIOTimeoutException() = default;
