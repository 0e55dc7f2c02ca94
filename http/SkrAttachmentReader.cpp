#include "http/SkrAttachmentReader.h"

#include "api/SkarnException.h"
#include "mime/SkrMPInputStream.h"
#include "mime/SkrQPInputStream.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexUtConvert.h"

#include <cstring>
#include <string>

SkrAttachmentReader::SkrAttachmentReader(SkrMPInputStream* stream) : m_decoder(nullptr), m_stream(stream) {}

SkrAttachmentReader::~SkrAttachmentReader()
{
    dropDecoders();
    m_stream = nullptr;
}

void SkrAttachmentReader::dropDecoders()
{
    delete m_decoder;
    m_decoder = nullptr;
    m_earlierDecoders.clear();
}

const char* SkrAttachmentReader::getContentID() { return m_parser.getContentID().c_str(); }

const char* SkrAttachmentReader::getContentType() { return m_parser.getContentType().c_str(); }

int SkrAttachmentReader::getContentLength() { return m_parser.getContentLength(); }

const char* SkrAttachmentReader::getHeader(const char* name) { return m_parser.getHeader(name); }

int SkrAttachmentReader::isGzipEncoded()
{
    const char* value = m_parser.getHeader("content-encoding");
    if (!value || std::strlen(value) >= 5)
        return 0;
    std::string lowered(value);
    VexUtConvert::strlwr(lowered);
    return lowered == "gzip" ? 1 : 0;
}

QioInputStream& SkrAttachmentReader::getInputStream()
{
    const char* value = m_parser.getHeader("content-transfer-encoding");
    if (!value)
        return *m_stream;
    // Longer values name no encoding we decode; they read as empty.
    std::string encoding;
    if (std::strlen(value) <= 16) {
        encoding = value;
        VexUtConvert::strlwr(encoding);
    }
    if (encoding == "quoted-printable") {
        SkrQPInputStream* decoder =
            VEX_GUARDED_NEW("SkrAttachmentReader::getInputStream", new SkrQPInputStream(*m_stream));
        if (m_decoder)
            m_earlierDecoders.emplace_back(m_decoder);
        m_decoder = decoder;
        return *m_decoder;
    }
    if (encoding == "base64")
        SkarnException::raise(VEX_LOCATION, "SkrAttachmentReader::getInputStream",
                              SkarnException::errTransferEncoding, {I18NString(value)});
    return *m_stream;
}

void SkrAttachmentReader::readPartHeaders()
{
    dropDecoders();
    m_parser.parseBodyPart(m_stream);
}
