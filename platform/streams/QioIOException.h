#ifndef QIO_IO_EXCEPTION_H
#define QIO_IO_EXCEPTION_H

#include "../core/VexException.h"

// Failures of the stream layer: a stream whose framing is broken (a chunked
// body with a bad size line, a body that ends before its announced length).
// Severity 1; the code is one of the values below; the text is a literal message.
class SKARN_EXPORT QioIOException : public VexException {
    VEX_THROWABLE_BODY(QioIOException)
public:
    enum {
        errTimeout = 1,         // QioIOTimeoutException
        errCancel = 2,          // QioIOCancelException
        errBadChunkSize = 3,    // a chunk-size line that is not a hexadecimal number
        errBadChunkEnd = 4,     // chunk data not followed by CR LF
        errTruncated = 5,       // the stream ended inside a chunk or before its length
    };
    QioIOException(int code, const char* text);
    ~QioIOException() override;
};

#endif
