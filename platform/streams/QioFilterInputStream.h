#ifndef QIO_FILTER_INPUT_STREAM_H
#define QIO_FILTER_INPUT_STREAM_H

#include "QioInputStream.h"

// A stream over another one (not owned). close() and the time-out and cancel
// slots (9..15) pass to the stream underneath; without one they answer 0.
class SKARN_EXPORT QioFilterInputStream : public QioInputStream {
public:
    ~QioFilterInputStream() override;
    void close() override;
    int canTimeout() override;
    int setTimeout(int seconds) override;
    int getTimeout() override;
    int canCancel() override;
    int setCancel(int mode) override;
    int getCancel() override;
    void cancel() override;

protected:
    explicit QioFilterInputStream(QioInputStream* in) : m_in(in) {}

    QioInputStream* m_in;  // not owned; null while unwrapped
};

#endif
