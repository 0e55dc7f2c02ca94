// A minimal SOAP client: `minimal_client URL FILE` sends an envelope and FILE as an attachment
// to URL (http://127.0.0.1:8080/echo), then prints the answer: status, envelope, attachments.
#include <skarn/skarn.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

struct PrintXml : DomWriter {  // serialised XML to standard output
    void writeChars(const char* data, unsigned length) override { std::cout.write(data, length); }
};

int main(int argc, char** argv)
{
    std::ifstream file(argc == 3 ? argv[2] : "", std::ios::binary);
    if (!file) {
        std::cerr << "usage: minimal_client URL FILE (a readable file)\n";
        return 2;
    }
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (SkarnProcessInitialize(nullptr) != 0)
        return 1;
    int status = 0;
    try {
        const char* soap = "http://schemas.xmlsoap.org/soap/envelope/";
        VexIDOM_DOMImplementation& dom = VexIDOM_DOMImplementation::getImplementation();
        std::unique_ptr<VexIDOM_Document> request(dom.createDocument(soap, "soap:Envelope"));
        VexIDOM_Element envelope = request->getDocumentElement();
        VexIDOM_Element hello = request->createElementNS("urn:skarn-example", "ex:Hello");
        hello.appendChild(request->createTextNode("hello from the minimal client"));
        envelope.appendChild(request->createElementNS(soap, "soap:Body")).appendChild(hello);

        // The session configuration: plain TCP; ON (and a caFile) would make it TLS.
        char options[] = "<sessionConfigDocument><forceSSLStatus>OFF</forceSSLStatus></sessionConfigDocument>";
        std::unique_ptr<Skarn> factory(Skarn::getSessionFactory());
        SkarnSession* session = factory->getSession(argv[1], options, 0);
        SkarnMessageWriter& writer = session->openRequest(1);
        writer.setEnvelope(envelope);
        writer.addAttachment("application/octet-stream", nullptr, data.data(), unsigned(data.size()), "file");
        session->closeRequest(writer);

        SkarnMessageReader& reader = session->openResponse();
        std::unique_ptr<VexIDOM_Document> response(dom.createDocument(nullptr, "response"));
        VexIDOM_Element holder = response->getDocumentElement();
        reader.getEnvelope(holder);
        std::cout << "status " << reader.getHeader("skarn-status-code") << "\nenvelope ";
        PrintXml xml;
        VexIDOM_Helper::write(holder.getFirstChild(), xml);
        while (reader.hasMoreAttachments()) {
            SkarnAttachmentReader& part = reader.openNextAttachment();
            std::cout << "\nattachment " << part.getContentID() << " (" << part.getContentType() << "):\n";
            char buffer[4096];
            for (unsigned n; (n = part.getInputStream().read(buffer, sizeof buffer)) != QioInputStream::END;)
                std::cout.write(buffer, n);
            reader.closeAttachment(part);
        }
        std::cout << std::endl;
        session->closeResponse(reader);
        session->release();
    } catch (VexThrowable& failure) {
        std::cerr << "minimal_client: " << failure.toString().str() << '\n';
        status = 1;
    }
    SkarnProcessTerminate(nullptr);
    return status;
}
