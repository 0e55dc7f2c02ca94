#ifndef SKR_MP_INPUT_STREAM_H
#define SKR_MP_INPUT_STREAM_H

#include "mime/BoundaryScanner.h"
#include "platform/streams/QioBufferedInputStream.h"

#include <string>

// Cuts a multipart body into its parts. A filter over the body stream (not
// owned; it must outlive this stream): read operations deliver the bytes of
// the current part, the part's own header lines first, and report end of
// stream at the end of the part.
//
//   body --> SkrMPInputStream --> (part bytes) --> SkrHTTPParser::parseBodyPart
//                                              --> SkrQPInputStream / caller
//
// The delimiter is "\r\n--" and the boundary (its double quotes dropped). The
// body is expected to start with "\r\n" in front of the first boundary line
// (the message reader pushes those two bytes back); whatever stands before the
// first delimiter is the preamble, skipped by the first hasNextPart.
//
// Calling order: construct; hasNextPart (skips the preamble); nextPart; read
// the part until a read reports its end; hasNextPart; nextPart; ... until
// hasNextPart answers 0; then unWrap. nextPart only after hasNextPart answered 1.
//
// One 1024-byte buffer, allocated once: refills move the unread bytes to the
// front and read until delimiter length + 2 bytes are there; reads copy from it.
// The delimiter plus two bytes must fit (boundaries up to 1018 bytes).
//
// Failures: a body that ends before the closing delimiter, or before two bytes
// after a delimiter, raises SkarnException errMultipartStructure (20) from the
// operation that noticed it ("SkrMPInputStream::readMore", "::read",
// "::readline", "::hasNextPart"); afterwards hasNextPart answers 0. wrap raises
// errNotSupported (0). Body stream exceptions pass through unchanged.
class SkrMPInputStream : public QioBufferedInputStream {
public:
    static constexpr int BUFFER_SIZE = 1024;

    SkrMPInputStream(QioInputStream& body, const std::string& boundary);
    ~SkrMPInputStream() override;

    // 1: next byte of the part 0..255, -1 at its end.
    int read() override;
    // 2: up to `len` bytes of the part that are known to be part data;
    // (unsigned)-1 at its end. "VEX_ASSERT(buf);" for a null buffer.
    unsigned read(char* buf, unsigned len) override;
    // 3: the same, appended to `buf`.
    unsigned read(VexByteBuffer& buf, unsigned len) override;
    // 7: 0, this stream takes no bytes back.
    int canUnread() override;
    // 16: not supported (errNotSupported).
    void wrap(QioInputStream& in) override;
    // 17: after the closing delimiter: gives the bytes read past it back to the
    // body stream when that accepts unread. VexIllegalStateError
    // "HTTP multipart message has a not-read part - SkrMPInputStream::unWrap"
    // while a further part follows.
    void unWrap() override;
    // 18: appends the next line of the part with its CR LF and returns the
    // count this call appended; at the end of the part appends what is left of
    // its last line (whose CR LF belongs to the delimiter) and returns 0.
    int readline(VexByteBuffer& line) override;

    // 19: reads and discards the rest of the current part.
    virtual void skipPart();
    // 20: 1 when another part follows the current one, 0 after the closing
    // delimiter (or once the body stream has ended).
    virtual int hasNextPart();
    // 21: steps over the delimiter and the two bytes after it (CR LF, not
    // checked) to the next part; returns the index of the part data's limit.
    // VexIllegalStateError "SkrMPInputStream::nextPart - no part follows" when
    // hasNextPart has not made sure a part follows.
    virtual int nextPart();

private:
    void readMore();
    // True when part data can be delivered, refilling once when none is
    // known; false at the end of the part (part done is set). A body that
    // ends before the delimiter raises errMultipartStructure from "SkrMPInputStream::read".
    bool partDataReady();
    int deliverable() const { return m_limit - m_take; }

    int m_inputEnded;
    char* m_buffer;
    int m_partDone;
    int m_eob;
    int m_limit;
    int m_take;
    QioInputStream& m_body;
    std::string m_delimiter;
    BoundaryScanner m_scanner;
};

#endif
