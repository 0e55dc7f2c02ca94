#ifndef QIO_IO_TIMEOUT_EXCEPTION_H
#define QIO_IO_TIMEOUT_EXCEPTION_H

#include "QioIOException.h"

// A blocking read ran past its time limit. Built with 0 by the socket streams.
class SKARN_EXPORT QioIOTimeoutException : public QioIOException {
    VEX_THROWABLE_BODY(QioIOTimeoutException)
public:
    explicit QioIOTimeoutException(int reserved);
    ~QioIOTimeoutException() override;
};

#endif
