// A whole message from hostile bytes through the reader, as a session drives
// it: head, chunked, length-framed or open body, multipart stream, the
// envelope into the DOM (or read as a stream), then every attachment.
#include "FuzzProcess.h"
#include "FuzzRead.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "platform/dom/VexIDOM_Document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Byte 0: bit 0 request, bits 1-3 socket read cap, bit 4 envelope into the
    // DOM, bits 5-7 read pattern. The rest: the message.
    if (size < 1)
        return 0;
    MemoryInputStream socket(bytesOf(data + 1, size - 1), (data[0] >> 1) % 8, true);
    VexIDOM_Document holder;
    try {
        SkrMessageReader r(data[0] & 1, socket, nullptr);
        if (data[0] & 0x10) {
            r.getEnvelope(holder);
        } else {
            QioInputStream& s = r.openEnvelope();
            drainStream(s, data[0] >> 5);
            r.closeEnvelope(s);
        }
        while (r.hasMoreAttachments()) {
            SkarnAttachmentReader& a = r.openNextAttachment();
            (void)a.getContentID(), (void)a.getContentType();
            drainStream(a.getInputStream(), data[0] >> 5);
            r.closeAttachment(a);
        }
    } catch (const VexThrowable&) {
    }
    return 0;
}
