// A multipart body from hostile bytes through the multipart stream and the
// attachment reader, as the message reader drives them: every part's headers,
// its decoded content, then unWrap.
#include "FuzzStream.h"

#include "mime/SkrAttachmentReader.h"
#include "mime/SkrMPInputStream.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexThrowable.h"

#include <cstdint>
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
    const std::string boundary(reinterpret_cast<const char*>(data + 2), boundaryLength);
    FuzzStream body(data + 2 + boundaryLength, size - 2 - boundaryLength, chunk);
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
            VexByteBuffer buf(64, 64);
            char block[37];
            for (unsigned step = 0;; ++step) {
                unsigned how = (mode + step) % 4;
                if (how == 0) {
                    if (content->read() == -1)
                        break;
                } else if (how == 1) {
                    if (content->read(block, 1 + step % sizeof block) == QioInputStream::END)
                        break;
                } else if (how == 2) {
                    buf.reset();
                    if (content->read(buf, 1 + step % 100) == QioInputStream::END)
                        break;
                } else {
                    buf.reset();
                    // The multipart stream says 0 at the end of the part, the decoder -1.
                    int n = static_cast<QioBufferedInputStream*>(content)->readline(buf);
                    if (n < 0 || (n == 0 && content == &mp))
                        break;
                }
            }
        }
        mp.unWrap();
    } catch (const VexThrowable&) {
    }
    return 0;
}
