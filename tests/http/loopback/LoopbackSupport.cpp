#include "http/loopback/LoopbackSupport.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

SocketPair makeSocketPair(LoopbackPeer::Family family)
{
    std::pair<int, int> fds = LoopbackPeer::connectedPair(family);
    SocketPair p{std::unique_ptr<AcceptedPlainSocket>(new AcceptedPlainSocket(fds.first)),
                 std::unique_ptr<AcceptedPlainSocket>(new AcceptedPlainSocket(fds.second))};
    p.client->markReusable();
    p.server->markReusable();
    return p;
}

VexIDOM_Document* makeEnvelope(const std::string& text)
{
    VexIDOM_Document* doc =
        VexIDOM_DOMImplementation::getImplementation().createDocument("http://schemas.xmlsoap.org/soap/envelope/", "soap:Envelope");
    VexIDOM_Element body = doc->createElementNS("http://schemas.xmlsoap.org/soap/envelope/", "soap:Body");
    VexIDOM_Element op = doc->createElementNS("urn:mirra:test", "m:Echo");
    op.setAttributeNS(nullptr, "q", "\"<&>'");
    op.appendChild(doc->createTextNode(text.c_str()));
    body.appendChild(op);
    doc->getDocumentElement().appendChild(body);
    return doc;
}

namespace {
class StringDomWriter : public DomWriter {
public:
    void writeChars(const char* data, unsigned length) override { out.append(data, length); }
    std::string out;
};
}  // namespace

std::string serialise(const VexIDOM_Node& node)
{
    StringDomWriter w;
    VexIDOM_Helper::write(node, w);
    return w.out;
}

Received readMessage(AcceptedPlainSocket& sock, bool request)
{
    Received got;
    std::unique_ptr<VexIDOM_Document> holder(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder"));
    SkrMessageReader r(request ? 1 : 0, sock.getInputStream(), &sock);
    VexIDOM_Element h = holder->getDocumentElement();
    r.getEnvelope(h);
    got.envelope = serialise(h.getFirstChild());
    while (r.hasMoreAttachments()) {
        SkarnAttachmentReader& a = r.openNextAttachment();
        got.parts.push_back({a.getContentID(), a.getContentType(), drain(a.getInputStream(), 4096)});  // in this order
        r.closeAttachment(a);
    }
    return got;
}

std::string allByteValues(int times)
{
    std::string out;
    for (int i = 0; i < 256 * times; ++i)
        out += static_cast<char>(i);
    return out;
}
