#include "platform/dom/VexIDOM_Utf8Transcoder.h"

#include "platform/dom/VexIDOM_Xerces.h"

#include <xercesc/framework/XMLRecognizer.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstring>

using namespace XERCES_CPP_NAMESPACE;

namespace {

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
    const std::size_t ascii = VexIDOM_Xerces::widenAscii(toFill, srcData, srcCount < maxChars ? srcCount : maxChars);
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
