#include "platform/dom/VexIDOM_Utf8Transcoder.h"

#include <xercesc/framework/XMLRecognizer.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using namespace XERCES_CPP_NAMESPACE;

namespace {

// Widens the leading ASCII bytes of src[0, n) into `to`; returns how many.
std::size_t widenAsciiRun(XMLCh* to, const XMLByte* src, std::size_t n)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        if (_mm_movemask_epi8(v) != 0)
            break;  // a byte with its high bit set
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n && src[i] < 0x80; ++i)
        to[i] = src[i];
    return i;
}

// Xerces' tables of transcoder factories are protected members of its
// transcoding service; a derived class may reach them.
struct Tables : XMLTransService {
    static void useFor(XMLRecognizer::Encodings encoding, ENameMap* factory)
    {
        gMappingsRecognizer->setElementAt(factory, encoding);
    }
};

}  // namespace

VexIDOM_Utf8Transcoder::VexIDOM_Utf8Transcoder(const XMLCh* encodingName, XMLSize_t blockSize,
                                               MemoryManager* manager)
    : XMLUTF8Transcoder(encodingName, blockSize, manager)
{
}

XMLSize_t VexIDOM_Utf8Transcoder::transcodeFrom(const XMLByte* srcData, XMLSize_t srcCount, XMLCh* toFill,
                                                XMLSize_t maxChars, XMLSize_t& bytesEaten, unsigned char* charSizes)
{
    const std::size_t ascii = widenAsciiRun(toFill, srcData, srcCount < maxChars ? srcCount : maxChars);
    std::memset(charSizes, 1, ascii);
    if (ascii == srcCount || ascii == maxChars) {
        bytesEaten = ascii;
        return ascii;
    }
    XMLSize_t eaten = 0;
    const XMLSize_t made = XMLUTF8Transcoder::transcodeFrom(srcData + ascii, srcCount - ascii, toFill + ascii,
                                                            maxChars - ascii, eaten, charSizes + ascii);
    bytesEaten = ascii + eaten;
    return ascii + made;
}

void VexIDOM_Utf8Transcoder::install()
{
    // A detected UTF-8 document, and one whose declaration names it.
    Tables::useFor(XMLRecognizer::UTF_8, new ENameMapFor<VexIDOM_Utf8Transcoder>(XMLUni::fgUTF8EncodingString));
    XMLTransService::addEncoding(XMLUni::fgUTF8EncodingString,
                                 new ENameMapFor<VexIDOM_Utf8Transcoder>(XMLUni::fgUTF8EncodingString));
    XMLTransService::addEncoding(XMLUni::fgUTF8EncodingString2,
                                 new ENameMapFor<VexIDOM_Utf8Transcoder>(XMLUni::fgUTF8EncodingString2));
}
