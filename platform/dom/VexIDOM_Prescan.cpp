#include "platform/dom/VexIDOM_Prescan.h"

#include <cstring>

void VexIDOM_Prescan::reset(unsigned limit)
{
    m_limit = limit;
    m_state = First;
    m_count = 0;
    m_line = 1;
    m_column = 0;
    m_last = m_before = 0;
}

bool VexIDOM_Prescan::feed(const unsigned char* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (m_state == Text || m_state == Off) {
            // Character data (or a document not scanned) up to the next
            // '<', in one step.
            const void* lt = m_state == Text ? std::memchr(p + i, '<', n - i) : nullptr;
            std::size_t end = lt ? static_cast<std::size_t>(static_cast<const unsigned char*>(lt) - p) : n;
            if (end > i) {
                pass(p + i, end - i);
                i = end;
                if (i == n)
                    break;
            }
        }
        unsigned char c = p[i];
        if (c == '\n') {
            ++m_line;
            m_column = 0;
        } else {
            ++m_column;
        }
        if (!step(c))
            return false;
        m_before = m_last;
        m_last = c;
    }
    return true;
}

void VexIDOM_Prescan::pass(const unsigned char* run, std::size_t length)
{
    const unsigned char* end = run + length;
    const unsigned char* lastLf = nullptr;
    for (const unsigned char* at = run;
         (at = static_cast<const unsigned char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at))));
         ++at) {
        ++m_line;
        lastLf = at;
    }
    m_column = lastLf ? static_cast<int>(end - lastLf - 1) : m_column + static_cast<int>(length);
    m_before = length >= 2 ? run[length - 2] : m_last;
    m_last = run[length - 1];
}

bool VexIDOM_Prescan::step(unsigned char c)
{
    switch (m_state) {
    case First:
        // A byte order mark or a NUL byte: not an ASCII-compatible encoding.
        if (c == 0 || c == 0xFE || c == 0xFF || c == 0x4C) {
            m_state = Off;
            return true;
        }
        m_state = Text;
        return step(c);
    case Off: return true;
    case Text:
        if (c == '<')
            m_state = Open;
        return true;
    case Open:
        m_state = c == '!' ? Bang : c == '?' ? Pi : c == '/' ? End : Start;
        m_count = 0;
        return true;
    case Bang:
        m_state = c == '-' ? Comment : c == '[' ? CData : Markup;
        return true;
    case Comment: return close(c, '-');
    case CData: return close(c, ']');
    case Pi:
        if (c == '>' && m_last == '?')
            m_state = Text;
        return true;
    case Markup:
    case End:
        if (c == '>')
            m_state = Text;
        return true;
    case Start:
        if (c == '"' || c == '\'') {
            m_quote = c;
            m_state = Quoted;
        } else if (c == '=') {
            return ++m_count <= m_limit;
        } else if (c == '>') {
            m_state = Text;
        }
        return true;
    case Quoted:
        if (c == m_quote)
            m_state = Start;
        return true;
    }
    return true;
}

bool VexIDOM_Prescan::close(unsigned char c, unsigned char twice)
{
    if (c == '>' && m_last == twice && m_before == twice)
        m_state = Text;
    return true;
}
