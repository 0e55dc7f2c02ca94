#ifndef SKR_QP_INPUT_STREAM_H
#define SKR_QP_INPUT_STREAM_H

#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioBufferedInputStream.h"

// Decodes the quoted-printable content transfer encoding of one part. A filter
// over another stream (not owned; normally the multipart stream), taken one
// byte at a time with read(); it decodes one input line at a time into a line
// buffer and serves reads from it.
//
// Decoding: every line break of the input (CR, LF, CR LF or LF CR) comes out
// as CR LF; "=" and two hexadecimal digits (either case) give that byte; "="
// before a line break, blanks or tabs between them allowed, is a soft break
// that joins the lines; every other byte, trailing blanks included, passes
// unchanged. A decoded line ends where its text ends in CR LF.
//
// Failures (SkarnException, severity 1, from "SkrQPInputStream::getDecodedLine"):
//   errBadQuotedPrintableEscape (27): "=" not followed by two hexadecimal digits,
//     "=" at the very end included; parameters "= <c2> <c3>" (each "0x" and two
//     hexadecimal digits; the end of input shows as 0x-1) and the offset of the "=".
//   errBadQuotedPrintableSoftBreak (28): "=" and blanks not followed by a line
//     break; parameters the character in hexadecimal and its offset.
// wrap raises errNotSupported (0). Input stream exceptions pass through.
class SkrQPInputStream final : public QioBufferedInputStream {
public:
    explicit SkrQPInputStream(QioInputStream& in);
    ~SkrQPInputStream() override;

    // 1: next decoded byte 0..255, -1 at the end of the input.
    int read() override;
    // 2: up to `len` decoded bytes, never beyond the current decoded line;
    // (unsigned)-1 at the end. "VEX_ASSERT(buf);" for a null buffer.
    unsigned read(char* buf, unsigned len) override;
    // 3: clears `buf`, then as slot 2 into it.
    unsigned read(VexByteBuffer& buf, unsigned len) override;
    // 7: 0.
    int canUnread() override;
    // 16: not supported (errNotSupported).
    void wrap(QioInputStream& in) override;
    // 17: nothing to do.
    void unWrap() override;
    // 18: clears `line` and fills it with the rest of the current decoded line,
    // or the next one; returns its length, -1 at the end. A line that earlier
    // reads took whole gives an empty line and 0.
    int readline(VexByteBuffer& line) override;

    // 19: the next input character (the pushed-back one first); -1 at the end.
    virtual int getChar();
    // 20: remembers `c` as the one pushed-back character; returns it.
    virtual int ungetChar(int c);
    // 21: 0 when `c` is not CR or LF; otherwise takes the partner of a CR LF or
    // LF CR pair (a second CR or LF of the same kind is pushed back) and returns 1.
    virtual int skipLineBreak(int c);
    // 22: decodes the next line into the line buffer; its length, or -1 when
    // the input gave nothing more.
    virtual int getDecodedLine();

private:
    // getChar's work, inline for the decoding loop (the class is final, so
    // the slot cannot be replaced and both give the same characters).
    int takeChar()
    {
        if (m_pushedBack != -1) {
            int c = m_pushedBack;
            m_pushedBack = -1;
            return c;
        }
        // Counted modulo 2^32 so that a stream beyond 2 GiB cannot overflow it.
        m_taken = static_cast<int>(static_cast<unsigned>(m_taken) + 1u);
        return m_input.read();
    }

    int m_taken;
    int m_pushedBack;
    unsigned m_position;
    QioInputStream& m_input;
    VexByteBuffer m_line;
};

#endif
