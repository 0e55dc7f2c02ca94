#include "platform/streams/QioIOCancelException.h"

QioIOCancelException::QioIOCancelException(int /*reserved*/)
    : QioIOException(errCancel, "read cancelled")
{
}

QioIOCancelException::~QioIOCancelException() = default;
