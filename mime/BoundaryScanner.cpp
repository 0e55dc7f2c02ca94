#include "mime/BoundaryScanner.h"

#include "platform/core/VexMacros.h"

#include <cstring>

void BoundaryScanner::setPattern(const std::string& pattern)
{
    m_pat = pattern.data();
    m_patLength = static_cast<unsigned>(pattern.size());
}

int BoundaryScanner::scan(const char* buf, int start, int end)
{
    VEX_ASSERT(buf);
    VEX_ASSERT(m_pat);
    if (m_patLength == 0)
        return end;
    const int patLength = static_cast<int>(m_patLength);
    int i = start + static_cast<int>(m_matched);
    int last = start - 1;
    while (i < end) {
        if (m_matched == 0) {
            // No match open: every byte that differs from the pattern's first
            // byte is data, as the byte-by-byte search would find one at a time.
            const void* hit = std::memchr(buf + i, m_pat[0], static_cast<std::size_t>(end - i));
            if (!hit)
                return end;
            i = static_cast<int>(static_cast<const char*>(hit) - buf);
            last = i - 1;
        }
        if (buf[i] == m_pat[m_matched]) {
            if (++m_matched == m_patLength) {
                m_found = 1;
                m_matched = 0;
                return i - patLength + 1;
            }
        } else {
            i -= static_cast<int>(m_matched);
            last = i;
            m_matched = 0;
        }
        ++i;
    }
    return last + 1;
}
