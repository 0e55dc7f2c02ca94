#include "platform/dom/VexIDOM_Xerces.h"

#include "platform/core/VexCore.h"
#include "platform/core/VexFileLocation.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/dom/VexIDOM_DOMException.h"
#include "platform/dom/VexIDOM_Utf8Transcoder.h"

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using namespace XERCES_CPP_NAMESPACE;

namespace {

int startXerces()
{
    try {
        XMLPlatformUtils::Initialize();
        VexIDOM_Utf8Transcoder::install();
    } catch (const XMLException&) {
        return -1;
    }
    return 0;
}

void stopXerces()
{
    VexIDOM_Xerces::dropThreadParser();
    XMLPlatformUtils::Terminate();
}

const int registered = vexRegisterModule("VexIDOM", startXerces, stopXerces);

}  // namespace

void VexIDOM_Xerces::ensureRegistered() { (void)registered; }

namespace {

// Characters are narrowed through a small buffer on the stack, eight at a
// time with SSE2 (every x86-64 has it): no zero fill of the string's room,
// and a text that stops early costs no more than what it wrote.
const std::size_t PIECE = 2048;

// The length of the leading run of text[0, n) below 0x80, narrowed into `to`.
std::size_t narrowAscii(char* to, const XMLCh* text, std::size_t n)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), _mm_setzero_si128())) != 0xFFFF)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(v, v));
    }
#endif
    for (; i < n && text[i] < 0x80; ++i)
        to[i] = static_cast<char>(text[i]);
    return i;
}

// The same for characters that stand in XML as they are.
std::size_t narrowPlain(char* to, const XMLCh* text, std::size_t n)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i space = _mm_set1_epi16(0x20);
    const __m128i span = _mm_set1_epi16(0x7E - 0x20);
    const __m128i amp = _mm_set1_epi16('&'), lt = _mm_set1_epi16('<'), gt = _mm_set1_epi16('>'),
                  quot = _mm_set1_epi16('"');
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        // Zero where the character is within 0x20..0x7E.
        __m128i outside = _mm_subs_epu16(_mm_sub_epi16(v, space), span);
        __m128i markup = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, amp), _mm_cmpeq_epi16(v, lt)),
                                      _mm_or_si128(_mm_cmpeq_epi16(v, gt), _mm_cmpeq_epi16(v, quot)));
        __m128i plain = _mm_andnot_si128(markup, _mm_cmpeq_epi16(outside, _mm_setzero_si128()));
        if (_mm_movemask_epi8(plain) != 0xFFFF)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(v, v));
    }
#endif
    for (; i < n; ++i) {
        XMLCh c = text[i];
        if (c < 0x20 || c > 0x7E || c == '&' || c == '<' || c == '>' || c == '"')
            break;
        to[i] = static_cast<char>(c);
    }
    return i;
}

// Appends through `narrow` piece by piece; returns how many characters it took.
template <class Narrow>
std::size_t appendNarrowed(std::string& out, const XMLCh* text, std::size_t length, Narrow narrow)
{
    // Room for all of it at once (the string still grows geometrically).
    if (out.capacity() - out.size() < length)
        out.reserve(out.size() + length);
    char piece[PIECE];
    std::size_t done = 0;
    while (done < length) {
        std::size_t n = length - done < PIECE ? length - done : PIECE;
        std::size_t got = narrow(piece, text + done, n);
        out.append(piece, got);
        done += got;
        if (got < n)
            break;
    }
    return done;
}

}  // namespace

std::size_t VexIDOM_Xerces::appendPlain(std::string& out, const XMLCh* text, std::size_t length)
{
    return appendNarrowed(out, text, length, narrowPlain);
}

void VexIDOM_Xerces::appendUtf8(std::string& out, const XMLCh* text, std::size_t length)
{
    if (!text)
        return;
    std::size_t i = 0;
    while (i < length) {
        // ASCII run: narrowed straight.
        i += appendNarrowed(out, text + i, length - i, narrowAscii);
        if (i == length)
            break;
        // Non-ASCII run: through Xerces' UTF-8 transcoder. Lone surrogates,
        // which UTF-8 cannot carry, become U+FFFD first.
        std::size_t start = i;
        while (i < length && text[i] >= 0x80)
            ++i;
        std::u16string run(reinterpret_cast<const char16_t*>(text + start), i - start);
        for (std::size_t k = 0; k < run.size(); ++k) {
            char16_t c = run[k];
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (k + 1 < run.size() && run[k + 1] >= 0xDC00 && run[k + 1] <= 0xDFFF)
                    ++k;
                else
                    run[k] = 0xFFFD;
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                run[k] = 0xFFFD;
            }
        }
        TranscodeToStr utf8(reinterpret_cast<const XMLCh*>(run.data()), run.size(), "UTF-8");
        out.append(reinterpret_cast<const char*>(utf8.str()), utf8.length());
    }
}

void VexIDOM_Xerces::appendUtf8(std::string& out, const XMLCh* text)
{
    if (text)
        appendUtf8(out, text, XMLString::stringLen(text));
}

I18NString VexIDOM_Xerces::toI18N(const XMLCh* text)
{
    std::string out;
    appendUtf8(out, text);
    return I18NString(std::move(out));
}

namespace {

using WideSlot = VexThreadSlot<VexIDOM_Xerces::XStr::Wide>;

}  // namespace

std::size_t VexIDOM_Xerces::widenAscii(XMLCh* to, const XMLByte* text, std::size_t n)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        if (_mm_movemask_epi8(v) != 0)
            break;  // a byte with its high bit set
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n && text[i] < 0x80; ++i)
        to[i] = text[i];
    return i;
}

VexIDOM_Xerces::XStr::XStr(const char* utf8)
{
    if (!utf8)
        return;
    const std::size_t n = std::strlen(utf8);
    XMLCh* to = m_small;
    if (n >= sizeof m_small / sizeof m_small[0]) {
        m_wide = WideSlot::takeIf([n](const Wide& w) { return w.capacity > n; });
        if (!m_wide) {
            m_wide.chars.reset(new XMLCh[n + 1]);
            m_wide.capacity = n + 1;
        }
        to = m_wide.chars.get();
    }
    if (widenAscii(to, reinterpret_cast<const XMLByte*>(utf8), n) == n) {
        to[n] = 0;
        m_text = to;
        return;
    }
    keepWide();  // not ASCII: Xerces' transcoder makes the text
    try {
        TranscodeFromStr wide(reinterpret_cast<const XMLByte*>(utf8), n, "UTF-8");
        m_text = wide.adopt();
    } catch (const XMLException&) {
        VexIDOM_DOMException(VexIDOM_DOMException::INVALID_CHARACTER_ERR, "text is not UTF-8")
            .hurl(VEX_LOCATION, "VexIDOM_Xerces::XStr", "VEX_THROW");
    }
}

void VexIDOM_Xerces::XStr::keepWide()
{
    // The larger buffer is kept, unless it is past the bound.
    if (m_wide && m_wide.capacity <= KEPT_CHARS)
        WideSlot::giveIf(std::move(m_wide), [](const Wide& given, const Wide& kept) {
            return given.capacity > kept.capacity;
        });
    m_wide = Wide();
}

VexIDOM_Xerces::XStr::~XStr()
{
    if (m_wide)
        keepWide();
    else if (m_text && m_text != m_small)
        XMLPlatformUtils::fgMemoryManager->deallocate(m_text);
}

void VexIDOM_Xerces::raise(const DOMException& e, const char* function)
{
    std::string text;
    appendUtf8(text, e.getMessage());
    VexIDOM_DOMException(static_cast<int>(e.code), text.c_str()).hurl(VEX_LOCATION, function, "VEX_THROW");
}
