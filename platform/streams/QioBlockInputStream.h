#ifndef QIO_BLOCK_INPUT_STREAM_H
#define QIO_BLOCK_INPUT_STREAM_H

#include "QioBufferedInputStream.h"
#include "QioPushback.h"

#include <cstddef>


// A body of known length over a buffered stream (not owned): after
// setLength(n) it yields exactly n bytes, then -1; nothing beyond is read.
// A stream that ends earlier raises QioIOException errTruncated.
// unread() is accepted: those bytes come first and do not count against n.
class SKARN_EXPORT QioBlockInputStream : public QioFilterInputStream {
public:
    // The memory of a deleted object is kept for the next one made on the same
    // thread (VEX_THREAD_RECYCLED_DEFINE, platform/core/VexThreadSpare.h).
    static void* operator new(std::size_t n);
    static void operator delete(void* p, std::size_t n) noexcept;
    explicit QioBlockInputStream(QioBufferedInputStream& in);
    ~QioBlockInputStream() override;

    void setLength(int length);  // a negative length counts as 0
    int getRemaining() const { return m_remaining; }

    int read() override;
    unsigned read(char* buffer, unsigned length) override;
    unsigned read(VexByteBuffer& buffer, unsigned length) override;
    int canUnread() override;
    void unread(const char* bytes, unsigned length) override;

private:
    QioBufferedInputStream& m_body;
    int m_remaining = 0;
    QioPushback m_pushback;  // unread bytes, delivered first
};

#endif
