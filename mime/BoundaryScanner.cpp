#include "mime/BoundaryScanner.h"

#include "platform/core/VexMacros.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The smallest j in [i, end - 3) at which the four bytes buf[j..j+4) equal
// pat[0..4), or, when there is none, the first index of the last three bytes
// of the range (or i, if that is beyond). Only such a j can begin the pattern
// or a partial match that reaches `end` from at least four bytes before it.
int findPrefix4(const char* buf, int i, int end, const char* pat)
{
#if defined(__SSE2__)
    const __m128i p0 = _mm_set1_epi8(pat[0]);
    const __m128i p1 = _mm_set1_epi8(pat[1]);
    const __m128i p2 = _mm_set1_epi8(pat[2]);
    const __m128i p3 = _mm_set1_epi8(pat[3]);
    while (i + 19 <= end) {
        const char* at = buf + i;
        __m128i m0 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), p0);
        __m128i m1 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1)), p1);
        __m128i m2 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 2)), p2);
        __m128i m3 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 3)), p3);
        int mask = _mm_movemask_epi8(_mm_and_si128(_mm_and_si128(m0, m1), _mm_and_si128(m2, m3)));
        if (mask)
            return i + __builtin_ctz(static_cast<unsigned>(mask));
        i += 16;
    }
#endif
    for (; i + 4 <= end; ++i)
        if (buf[i] == pat[0] && std::memcmp(buf + i, pat, 4) == 0)
            return i;
    return i;
}

}  // namespace

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
            // No match open. A byte at which the pattern's first four bytes do
            // not stand (with four bytes left in the range) is data, as the
            // byte-by-byte search would find one at a time; so is, in the
            // range's last bytes, any byte other than the pattern's first.
            if (m_patLength >= 4) {
                int j = findPrefix4(buf, i, end, m_pat);
                if (j > i) {
                    i = j;
                    last = i - 1;
                }
                if (i >= end)
                    break;
            }
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
