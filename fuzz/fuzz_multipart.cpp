// A multipart body from hostile bytes through the multipart stream and the
// attachment reader, as the message reader drives them: every part's headers,
// its decoded content, then unWrap.
#include "FuzzRead.h"

#include "http/SkrAttachmentReader.h"
#include "mime/SkrMPInputStream.h"
#include "platform/core/VexThrowable.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Byte 0: body read cap and how parts are read; byte 1: boundary length;
    // then the boundary, then the body.
    if (size < 2)
        return 0;
    const unsigned chunk = data[0] % 16;
    const unsigned mode = data[0] >> 4;
    const std::size_t boundaryLength = 1 + data[1] % 72;
    if (size < 2 + boundaryLength)
        return 0;
    const std::string boundary = bytesOf(data + 2, boundaryLength);
    MemoryInputStream body(bytesOf(data + 2 + boundaryLength, size - 2 - boundaryLength), chunk, true);
    body.unread("\r\n", 2);
    try {
        SkrMPInputStream mp(body, boundary);
        SkrAttachmentReader reader(&mp);
        while (mp.hasNextPart()) {
            mp.nextPart();
            reader.readPartHeaders();
            reader.getContentID();
            reader.getContentType();
            reader.isGzipEncoded();
            QioInputStream* content = &mp;
            try {
                content = &reader.getInputStream();
            } catch (const VexThrowable&) {
                // base64: the part is skipped by the next hasNextPart
            }
            readEveryWay(*static_cast<QioBufferedInputStream*>(content), mode, content == &mp);
        }
        mp.unWrap();
    } catch (const VexThrowable&) {
    }
    return 0;
}
