#ifndef QIO_BUFFERED_INPUT_STREAM_H
#define QIO_BUFFERED_INPUT_STREAM_H

#include "QioFilterInputStream.h"

#include <cstddef>

// A buffer over another stream (not owned), with lines and push-back.
// Slots after QioInputStream's sixteen: 16 wrap, 17 unWrap, 18 readline.
//
// Reads are served from the buffer; a block read at least as large as the
// buffer, with the buffer empty, goes straight to the stream underneath.
// unread() puts bytes in front of everything not yet read (the buffer grows
// when it must). readline() finds line ends with memchr.
//
// QioBufferedInputStream(int) makes a stream without a source; subclasses that
// keep their own buffering use it, and wrap() can attach a source later.
class SKARN_EXPORT QioBufferedInputStream : public QioFilterInputStream {
public:
    // The memory of a deleted object is kept for the next one made on the same
    // thread (VEX_THREAD_RECYCLED_DEFINE, platform/core/VexThreadSpare.h).
    static void* operator new(std::size_t n);
    static void operator delete(void* p, std::size_t n) noexcept;
    QioBufferedInputStream(QioInputStream& in, int bufferSize);
    explicit QioBufferedInputStream(int bufferSize);
    ~QioBufferedInputStream() override;
    QioBufferedInputStream(const QioBufferedInputStream&) = delete;
    QioBufferedInputStream& operator=(const QioBufferedInputStream&) = delete;

    int read() override;
    unsigned read(char* buffer, unsigned length) override;
    unsigned read(VexByteBuffer& buffer, unsigned length) override;
    int canUnread() override;
    void unread(const char* bytes, unsigned length) override;

    // 16: reads from `in` from now on (after what is still buffered).
    virtual void wrap(QioInputStream& in);
    // 17: detaches from the stream underneath, giving it back the bytes read
    // ahead when it accepts unread; otherwise they stay readable here.
    virtual void unWrap();
    // 18: appends the next line, its LF (and the CR before it) included, and
    // returns the count appended; the last line of the stream may lack its LF.
    // -1 at end of stream.
    virtual int readline(VexByteBuffer& line);

    // Bytes buffered and not yet read.
    unsigned available() const { return m_end - m_pos; }

    // The next line (its LF included) where it lies in the buffer, without
    // taking it; the buffer is refilled first when empty. Null, and `length`
    // untouched, when no whole line is buffered (or at the end of the
    // stream): the caller reads it with readline() instead. The bytes stay
    // valid until the next read, refill or unread.
    const char* peekLine(unsigned& length);
    // Takes `length` bytes that peekLine() showed.
    void skip(unsigned length) { m_pos += length; }

    // Lets a refill take up to `bytes` from the stream underneath in one read
    // (the buffer grows to that size on the next refill). A reader of large
    // bodies over a socket uses it to make one receive per many kilobytes
    // instead of one per buffer size; 0 (the default) refills by the size
    // given to the constructor. Reads as large as that size still bypass the buffer.
    void setReadAhead(unsigned bytes) { m_readAhead = bytes; }

protected:
    // Refills the empty buffer from the stream underneath; false at its end.
    bool fill();

private:
    char* m_buf = nullptr;
    unsigned m_capacity = 0;
    unsigned m_pos = 0;
    unsigned m_end = 0;
    unsigned m_readAhead = 0;
    unsigned m_bufSize = 0;  // bytes allocated at m_buf
};

#endif
