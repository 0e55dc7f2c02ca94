// A whole message from hostile bytes through the message reader, as a
// session drives it: the head, the chunked, length-framed or open body, the
// multipart stream, the envelope into the DOM (or read as a stream), then
// every attachment. Nothing may crash; an envelope the reader accepts must
// come back equal from its own serialisation.
#include "FuzzProcess.h"
#include "FuzzStream.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "platform/core/VexThrowable.h"
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "support/MemoryInputStream.h"

#include <cstdint>
#include <memory>

namespace {

struct StringWriter : DomWriter {
    void writeChars(const char* data, unsigned length) override { text.append(data, length); }
    std::string text;
};

// The envelope written out and parsed again must give an equal tree.
void checkEnvelope(const VexIDOM_Node& envelope)
{
    if (envelope.isNull() || envelope.getNodeType() != 1)
        return;
    StringWriter w;
    VexIDOM_Helper::write(envelope, w);
    MemoryInputStream again(w.text);
    VexIDOM_Document doc;
    VexIDOM_Parser parser(0);
    if (parser.parse(again, doc) != 0 || !doc.getDocumentElement().isEqualNode(envelope))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Byte 0: request or response, socket read cap, envelope as DOM or stream,
    // read pattern; the rest is the message.
    if (size < 1)
        return 0;
    const int isRequest = data[0] & 1;
    const unsigned chunk = (data[0] >> 1) % 8;
    const bool dom = data[0] & 0x10;
    const unsigned pattern = data[0] >> 5;
    FuzzStream socket(data + 1, size - 1, chunk);
    std::unique_ptr<VexIDOM_Document> holder(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "h"));
    VexIDOM_Element parent = holder->getDocumentElement();
    try {
        SkrMessageReader r(isRequest, socket, nullptr);
        if (dom) {
            r.getEnvelope(parent);
            checkEnvelope(parent.getFirstChild());
        } else {
            QioInputStream& s = r.openEnvelope();
            drainStream(s, pattern);
            r.closeEnvelope(s);
        }
        while (r.hasMoreAttachments()) {
            SkarnAttachmentReader& a = r.openNextAttachment();
            a.getContentID();
            a.getContentType();
            a.getHeader("content-transfer-encoding");
            drainStream(a.getInputStream(), pattern);
            r.closeAttachment(a);
        }
        r.getHeader("content-type");
    } catch (const VexThrowable&) {
    }
    return 0;
}
