// A minimal SOAP server: `minimal_server [PORT [COUNT]]` listens on 127.0.0.1:PORT (0: any,
// printed first), answers COUNT requests (default 1), one per connection, and prints what each
// brought. The answer quotes the request's text and sends its attachments back.
#include <skarn/skarn.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

void answer(SkarnServerSession& session)
{
    SkarnMessageReader& reader = session.openRequest();
    VexIDOM_DOMImplementation& dom = VexIDOM_DOMImplementation::getImplementation();
    std::unique_ptr<VexIDOM_Document> request(dom.createDocument(nullptr, "request"));
    VexIDOM_Element holder = request->getDocumentElement();
    reader.getEnvelope(holder);
    const I18NString text = VexIDOM_Helper::getElementText(holder);
    std::cout << "request text: " << text.c_str();
    const char* soap = "http://schemas.xmlsoap.org/soap/envelope/";
    std::unique_ptr<VexIDOM_Document> response(dom.createDocument(soap, "soap:Envelope"));
    VexIDOM_Element envelope = response->getDocumentElement();
    VexIDOM_Element received = response->createElementNS("urn:skarn-example", "ex:Received");
    received.appendChild(response->createTextNode(text.c_str()));
    envelope.appendChild(response->createElementNS(soap, "soap:Body")).appendChild(received);
    SkarnMessageWriter& writer = session.openResponse(reader.hasMoreAttachments());
    writer.setEnvelope(envelope);
    while (reader.hasMoreAttachments()) {
        SkarnAttachmentReader& part = reader.openNextAttachment();
        std::string bytes;
        char buffer[4096];
        for (unsigned n; (n = part.getInputStream().read(buffer, sizeof buffer)) != QioInputStream::END;)
            bytes.append(buffer, n);
        std::cout << "\nrequest attachment " << part.getContentID() << ": " << bytes.size() << " bytes";
        writer.addAttachment(part.getContentType(), nullptr, bytes.data(), static_cast<unsigned>(bytes.size()),
                             part.getContentID());
        reader.closeAttachment(part);
    }
    std::cout << std::endl;
    session.closeRequest(reader);
    session.closeResponse(writer);
}

int main(int argc, char** argv)
{
    if (SkarnProcessInitialize(nullptr) != 0)
        return 1;
    std::unique_ptr<Skarn> factory(Skarn::getSessionFactory());
    char address[] = "127.0.0.1";
    SkarnServerSocket* listener = factory->getServerSocket(address, argc > 1 ? std::atoi(argv[1]) : 0, nullptr);
    std::cout << listener->getListenOnPort() << std::endl;
    for (int served = 0, count = argc > 2 ? std::atoi(argv[2]) : 1; served < count; ++served) {
        SkarnSocket* connection = listener->awaitCommunicationAttempt();
        SkarnServerSession* session = factory->getServerSession(connection);
        try {
            answer(*session);
        } catch (VexThrowable& failure) {  // a broken request: the server goes on
            std::cerr << "minimal_server: " << failure.toString().str() << '\n';
        }
        session->release();
        connection->release();  // closes it: an accepted connection is not pooled
    }
    listener->release();
    factory.reset();
    SkarnProcessTerminate(nullptr);
    return 0;
}
