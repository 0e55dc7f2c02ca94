#include "mime/SkrQPInputStream.h"

#include "api/SkarnException.h"
#include "platform/core/VexDowncastSize.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexUtConvert.h"

#include <cstring>
#include <string>

namespace {

const int CR = 13;
const int LF = 10;

int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string hexText(int c) { return std::string(VexUtConvert::getHexPrefix()) + VexUtConvert::hexCvt(c); }

}  // namespace

SkrQPInputStream::SkrQPInputStream(QioInputStream& in)
    : QioBufferedInputStream(0), m_taken(0), m_pushedBack(-1), m_position(0), m_input(in), m_line(128, 256)
{
    // Time-out, cancel and close pass to the input stream.
    m_in = &in;
}

SkrQPInputStream::~SkrQPInputStream() { m_in = nullptr; }

int SkrQPInputStream::getChar() { return takeChar(); }

int SkrQPInputStream::ungetChar(int c)
{
    m_pushedBack = c;
    return c;
}

int SkrQPInputStream::skipLineBreak(int c)
{
    if (c != CR && c != LF)
        return 0;
    int d = takeChar();
    if (d == -1)
        return 1;
    if ((d == CR || d == LF) && d != c)
        return 1;
    ungetChar(d);
    return 1;
}

int SkrQPInputStream::getDecodedLine()
{
    m_line.reset();
    m_position = 0;
    // Decoded bytes go straight into the line buffer's free tail; `last` holds
    // the last two of them so that the CR LF test needs no look-back.
    unsigned room = 0, used = 0, total = 0;
    char* out = nullptr;
    unsigned last = 0;
    auto put = [&](char c) {
        if (used == room) {
            m_line.commit(used);
            room = 256;
            out = m_line.reserveTail(room);
            used = 0;
        }
        out[used++] = c;
        ++total;
        last = ((last << 8) | static_cast<unsigned char>(c)) & 0xFFFF;
    };
    while (total < 2 || last != ((CR << 8) | LF)) {
        int c = takeChar();
        if (c == -1)
            break;
        if (c == LF || c == CR) {
            skipLineBreak(c);
            put('\r');
            put('\n');
        } else if (c != '=') {
            put(static_cast<char>(c));
        } else {
            int c2 = takeChar();
            if (c2 == ' ' || c2 == '\t') {
                int d;
                do {
                    d = takeChar();
                } while (d == ' ' || d == '\t');
                if (!skipLineBreak(d)) {
                    SkarnException::raise(VEX_LOCATION, "SkrQPInputStream::getDecodedLine",
                                          SkarnException::errBadQuotedPrintableSoftBreak,
                                          {I18NString(hexText(d)), I18NString(std::to_string(m_taken - 1))});
                }
            } else if (!skipLineBreak(c2)) {
                int c3 = takeChar();
                int high = hexValue(c2), low = hexValue(c3);
                if (high < 0 || low < 0) {
                    SkarnException::raise(VEX_LOCATION, "SkrQPInputStream::getDecodedLine",
                                          SkarnException::errBadQuotedPrintableEscape,
                                          {I18NString("= " + hexText(c2) + " " + hexText(c3)),
                                           I18NString(std::to_string(m_taken - 3))});
                }
                put(static_cast<char>(high * 16 + low));
            }
            // A soft line break appends nothing: the next input line continues this one.
        }
    }
    m_line.commit(used);
    return m_line.length() > 0 ? static_cast<int>(m_line.length()) : -1;
}

int SkrQPInputStream::read()
{
    if (m_position >= m_line.length() && getDecodedLine() == -1)
        return -1;
    return static_cast<unsigned char>(m_line.getData()[m_position++]);
}

unsigned SkrQPInputStream::read(char* buf, unsigned len)
{
    VEX_ASSERT(buf);
    if (len == 0)
        return 0;
    while (static_cast<int>(m_line.length() - m_position) <= 0)
        if (getDecodedLine() == -1)
            return END;
    int left = static_cast<int>(m_line.length() - m_position);
    int wanted = VexDowncastSize<int>(len);
    int n = left < wanted ? left : wanted;
    std::memcpy(buf, m_line.getData() + m_position, static_cast<std::size_t>(n));
    m_position += static_cast<unsigned>(n);
    return static_cast<unsigned>(n);
}

unsigned SkrQPInputStream::read(VexByteBuffer& buf, unsigned len)
{
    buf.reset();
    if (len == 0)
        return 0;
    while (m_position == m_line.length())
        if (getDecodedLine() == -1)
            return END;
    unsigned left = m_line.length() - m_position;
    unsigned n = left < len ? left : len;
    buf.append(m_line.getData() + m_position, n);
    m_position += VexDowncastSize<unsigned>(n);
    return n;
}

int SkrQPInputStream::canUnread() { return 0; }

void SkrQPInputStream::wrap(QioInputStream&)
{
    SkarnException::raise(VEX_LOCATION, "SkrQPInputStream::wrap", SkarnException::errNotSupported);
}

void SkrQPInputStream::unWrap() {}

int SkrQPInputStream::readline(VexByteBuffer& line)
{
    line.reset();
    if (m_position == 0 && getDecodedLine() == -1)
        return -1;
    line.append(m_line.getData() + m_position, m_line.length() - m_position);
    m_position = 0;
    m_line.reset();
    return static_cast<int>(line.length());
}
