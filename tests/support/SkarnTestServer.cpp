#include "support/SkarnTestServer.h"

#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"

#include <poll.h>
#include <sys/socket.h>

VexIDOM_Document* soapEnvelope(const std::string& text)
{
    const char* soap = "http://schemas.xmlsoap.org/soap/envelope/";
    VexIDOM_Document* doc = VexIDOM_DOMImplementation::getImplementation().createDocument(soap, "soap:Envelope");
    VexIDOM_Element body = doc->createElementNS(soap, "soap:Body");
    VexIDOM_Element op = doc->createElementNS("urn:mirra:test", "m:Echo");
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

std::string serialiseNode(const VexIDOM_Node& node)
{
    StringDomWriter w;
    VexIDOM_Helper::write(node, w);
    return w.out;
}

std::string readUntil(int fd, const std::string& mark)
{
    std::string got;
    char buf[65536];
    while (got.size() < mark.size() || got.compare(got.size() - mark.size(), mark.size(), mark) != 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1)
            break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}
