#ifndef SKR_ATTACHMENT_READER_H
#define SKR_ATTACHMENT_READER_H

#include "api/SkarnAttachmentReader.h"
#include "http/SkrHTTPParser.h"

#include <memory>
#include <vector>

class SkrMPInputStream;

// One part of a multipart message at a time, over the message's multipart
// stream (not owned; the message reader owns both and keeps this reader for
// the whole message).
//
// Calling order: the multipart stream is stepped to a part (hasNextPart,
// nextPart); readPartHeaders; then any of the slots 1 to 6; the content is
// read from getInputStream() until it reports end of stream; then the next part.
//
// Texts from slots 1, 2 and 4 belong to the reader and stay valid until the
// next part's headers are read; so do the streams getInputStream returns.
class SkrAttachmentReader : public SkarnAttachmentReader {
public:
    explicit SkrAttachmentReader(SkrMPInputStream* stream);
    ~SkrAttachmentReader() override;
    SkrAttachmentReader(const SkrAttachmentReader&) = delete;
    SkrAttachmentReader& operator=(const SkrAttachmentReader&) = delete;

    // 1: "content-id" as parsed ("" when none).
    const char* getContentID() override;
    // 2: "content-type" as parsed ("" when none).
    const char* getContentType() override;
    // 3: "content-length", 0 when none.
    int getContentLength() override;
    // 4: the header `name` (lower case: names are stored so) or null.
    const char* getHeader(const char* name) override;
    // 5: 1 when "content-encoding" is gzip in any case, else 0.
    int isGzipEncoded() override;
    // 6: the part's content with its transfer encoding undone: a
    // quoted-printable decoder for "quoted-printable" (any case), the multipart
    // stream itself for anything else. "base64" (any case) raises SkarnException
    // errTransferEncoding (29) with the value as received; the reader and the
    // multipart stream stay usable.
    QioInputStream& getInputStream() override;
    // 7: parses the header lines of the part at which the multipart stream
    // stands (SkrHTTPParser::parseBodyPart); errors of the parse and of the
    // stream pass through.
    virtual void readPartHeaders();

private:
    void dropDecoders();

    SkrHTTPParser m_parser;
    QioInputStream* m_decoder;  // owned; the newest decoder of this part
    SkrMPInputStream* m_stream;  // not owned
    // Decoders made earlier for the same part (getInputStream called again),
    // kept usable until the next part.
    std::vector<std::unique_ptr<QioInputStream>> m_earlierDecoders;
};

#endif
