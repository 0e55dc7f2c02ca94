#ifndef VEX_IDOM_UTF8_TRANSCODER_H
#define VEX_IDOM_UTF8_TRANSCODER_H

#include <xercesc/util/XMLUTF8Transcoder.hpp>

// Xerces' UTF-8 decoder with a fast way through ASCII: a run of bytes below
// 0x80 is widened sixteen at a time, and from the first other byte on the
// block goes to Xerces' own decoder, so every character, every error and its
// message are Xerces' own. Envelopes are mostly ASCII; Xerces' decoder takes
// each byte through its sequence table.
//
// install() makes the parser use it for documents read as UTF-8 (detected
// or declared); it is called after each XMLPlatformUtils::Initialize, which
// fills Xerces' tables anew. Xerces owns the factories it is given.
class VexIDOM_Utf8Transcoder : public XERCES_CPP_NAMESPACE::XMLUTF8Transcoder {
public:
    VexIDOM_Utf8Transcoder(const XMLCh* encodingName, XMLSize_t blockSize,
                           XERCES_CPP_NAMESPACE::MemoryManager* manager);

    XMLSize_t transcodeFrom(const XMLByte* srcData, XMLSize_t srcCount, XMLCh* toFill, XMLSize_t maxChars,
                            XMLSize_t& bytesEaten, unsigned char* charSizes) override;

    static void install();
};

#endif
