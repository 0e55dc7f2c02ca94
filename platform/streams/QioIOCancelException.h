#ifndef QIO_IO_CANCEL_EXCEPTION_H
#define QIO_IO_CANCEL_EXCEPTION_H

#include "QioIOException.h"

// A blocking read ended because another thread cancelled it. Built with 0.
class SKARN_EXPORT QioIOCancelException : public QioIOException {
    VEX_THROWABLE_BODY(QioIOCancelException)
public:
    explicit QioIOCancelException(int reserved);
    ~QioIOCancelException() override;
};

#endif
