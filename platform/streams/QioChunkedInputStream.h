#ifndef QIO_CHUNKED_INPUT_STREAM_H
#define QIO_CHUNKED_INPUT_STREAM_H

#include "QioBufferedInputStream.h"
#include "QioPushback.h"

#include <cstddef>


// Decodes an HTTP chunked body from a buffered stream (not owned).
//
// Each chunk is a size line (hexadecimal, optionally followed by blanks and
// ";extensions") and its data followed by CR LF (a bare LF is accepted). After
// the last chunk (size 0) reads return -1; the trailer lines and the empty line
// that closes them stay unread in the buffered stream.
//
// Raises QioIOException: errBadChunkSize for a size line that is not a
// hexadecimal number or is longer than 4096 bytes, errBadChunkEnd for data not
// followed by its line end, errTruncated when the stream ends inside the body.
// unread() is accepted: those bytes come first.
class SKARN_EXPORT QioChunkedInputStream : public QioFilterInputStream {
public:
    // The memory of a deleted object is kept for the next one made on the same
    // thread (VEX_THREAD_RECYCLED_DEFINE, platform/core/VexThreadSpare.h).
    static void* operator new(std::size_t n);
    static void operator delete(void* p, std::size_t n) noexcept;
    explicit QioChunkedInputStream(QioBufferedInputStream& in);
    ~QioChunkedInputStream() override;

    int read() override;
    unsigned read(char* buffer, unsigned length) override;
    unsigned read(VexByteBuffer& buffer, unsigned length) override;
    int canUnread() override;
    void unread(const char* bytes, unsigned length) override;

    // True once the last chunk has been read.
    bool isFinished() const { return m_finished; }

private:
    // Makes data available: false when the last chunk has been passed.
    bool nextChunk();
    void readSizeLine();
    void readDataEnd();

    QioBufferedInputStream& m_body;
    unsigned long long m_remaining = 0;  // data bytes left in the current chunk
    bool m_started = false;              // a chunk has been announced (its data needs a line end)
    bool m_finished = false;
    QioPushback m_pushback;  // unread bytes, delivered first
};

#endif
