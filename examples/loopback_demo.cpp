// Loopback demo: one SOAP exchange with attachments over a real TCP connection
// on 127.0.0.1, both ends in this process.
//
//   server: a listening socket of the secure-socket layer (encryption OFF),
//           accepts one connection, reads the request (envelope + attachments)
//           with SkrMessageReader and answers with SkrMessageWriter;
//   client: a plain SkrSocketNonSSL opened by URL, writes the request chunked
//           with SkrMessageWriter and reads the response with SkrMessageReader.
//
// It prints what each end received and exits 0 when the server got exactly
// what the client sent and the client got the server's answer.
#include "api/SkarnAttachmentReader.h"
#include "api/SkarnProcess.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "net/SkrSocket.h"
#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexThrowable.h"
#include "platform/crypto/VexCrypto.h"
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Element.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/streams/QioInputStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* SOAP_NS = "http://schemas.xmlsoap.org/soap/envelope/";

struct Part {
    std::string id;
    std::string type;
    std::string bytes;
};

std::string readAll(QioInputStream& in)
{
    std::string out;
    char buf[4096];
    for (;;) {
        unsigned n = in.read(buf, sizeof buf);
        if (n == QioInputStream::END)
            return out;
        out.append(buf, n);
    }
}

// A SOAP envelope with one body element carrying `text`.
std::unique_ptr<VexIDOM_Document> envelope(const char* operation, const char* text)
{
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(
        SOAP_NS, "soap:Envelope"));
    VexIDOM_Element root = doc->getDocumentElement();
    VexIDOM_Element body = doc->createElementNS(SOAP_NS, "soap:Body");
    VexIDOM_Element op = doc->createElementNS("urn:skarn-demo", operation);
    op.appendChild(doc->createTextNode(text));
    body.appendChild(op);
    root.appendChild(body);
    return doc;
}

// Reads the envelope and every attachment of a message into `parts`
// (the envelope's text first, with id "envelope").
void readMessage(SkrMessageReader& r, std::vector<Part>& parts)
{
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument());
    VexIDOM_Element holder = doc->createElement("received");
    doc->appendChild(holder);
    r.getEnvelope(holder);
    parts.push_back({"envelope", "text/xml", holder.getFirstChild().getTextContent().str()});
    while (r.hasMoreAttachments()) {
        SkarnAttachmentReader& a = r.openNextAttachment();
        parts.push_back({a.getContentID(), a.getContentType(), readAll(a.getInputStream())});
        r.closeAttachment(a);
    }
}

// One line per part; short printable content is shown, line ends as \r \n.
void show(const char* who, const std::vector<Part>& parts)
{
    for (const Part& p : parts) {
        std::string text;
        bool printable = p.bytes.size() < 60;
        for (unsigned char c : p.bytes) {
            if (c == '\r')
                text += "\\r";
            else if (c == '\n')
                text += "\\n";
            else if (std::isprint(c))
                text += static_cast<char>(c);
            else
                printable = false;
        }
        std::printf("%s got part %-9s %-26s %4zu bytes%s%s\n", who, p.id.c_str(), p.type.c_str(), p.bytes.size(),
                    printable ? ": " : "", printable ? text.c_str() : "");
    }
}

class Listener {
public:
    Listener()
    {
        VexCrypto* c = VexCryptoSharedFactory::getInstance();
        char* details = nullptr;
        const char* doc = "<sessionConfigDocument><serviceID>SkarnDemo</serviceID>"
                          "<forceSSLStatus>OFF</forceSSLStatus><protocolFamily>IPv4</protocolFamily>"
                          "</sessionConfigDocument>";
        if (c->QSM_Socket(&m_handle, doc, nullptr, &details) != QSM_S_OK)
            fail("QSM_Socket", details);
        sockaddr_storage a{};
        sockaddr_in* a4 = reinterpret_cast<sockaddr_in*>(&a);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof a;
        if (c->QSM_Bind(m_handle, &a, 128, nullptr) != QSM_S_OK ||
            c->QSM_GetSockName(m_handle, &a, &length, nullptr) != QSM_S_OK ||
            c->QSM_Listen(m_handle, 20, nullptr) != QSM_S_OK) {
            c->QSM_CryptoGetLastErrorDetails(m_handle, nullptr, &details);
            fail("listen", details);
        }
        m_port = ntohs(a4->sin_port);
    }
    ~Listener()
    {
        char* details = nullptr;
        VexCryptoSharedFactory::getInstance()->QSM_CloseHandle(&m_handle, nullptr, &details);
        VexCryptoSharedFactory::getInstance()->QSM_CryptoFree(details);
    }
    int port() const { return m_port; }

    // The next connection, as a toolkit socket owned by the caller.
    SkrSocket* accept()
    {
        VexCrypto* c = VexCryptoSharedFactory::getInstance();
        QSM_HANDLE h = nullptr;
        sockaddr_storage peer{};
        int length = sizeof peer;
        if (c->QSM_Accept(m_handle, &h, &peer, &length, nullptr) != QSM_S_OK) {
            char* details = nullptr;
            c->QSM_CryptoGetLastErrorDetails(m_handle, nullptr, &details);
            fail("QSM_Accept", details);
        }
        return new SkrSocket(h, ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port), peer);
    }

private:
    [[noreturn]] static void fail(const char* what, char* details)
    {
        std::fprintf(stderr, "demo: %s failed: %s\n", what, details ? details : "");
        std::exit(1);
    }

    QSM_HANDLE m_handle = nullptr;
    int m_port = 0;
};

void serve(Listener& listener, std::vector<Part>& received, std::string& failure)
{
    try {
        std::unique_ptr<SkrSocket> sock(listener.accept());
        {
            SkrMessageReader request(1, sock->getInputStream(), sock.get());
            readMessage(request, received);
        }
        std::unique_ptr<VexIDOM_Document> answer = envelope("EchoResponse", "received, thank you");
        SkrMessageWriter response("", 0, 1, sock.get(), 0, 0, nullptr);
        response.init();
        VexIDOM_Element root = answer->getDocumentElement();
        response.setEnvelope(root);
        std::string summary = std::to_string(received.size()) + " parts";
        response.addAttachment("text/plain", "UTF-8", summary.data(), static_cast<unsigned>(summary.size()), "summary");
        response.close();
        sock->Close();
    } catch (VexThrowable& t) {
        failure = t.toString().str();
    }
}

}  // namespace

int main()
{
    if (SkarnProcessInitialize(nullptr) != 0) {
        std::fprintf(stderr, "demo: the toolkit did not start\n");
        return 1;
    }
    int rc = 0;
    {
        Listener listener;
        std::vector<Part> serverGot;
        std::string serverFailure;
        std::thread server(serve, std::ref(listener), std::ref(serverGot), std::ref(serverFailure));

        std::string binary;
        for (int i = 0; i < 256; ++i)
            binary += static_cast<char>(i);
        const std::string csv = "id;name\r\n1;first\r\n2;second\r\n";
        std::vector<Part> clientGot;
        try {
            std::string url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/demo/echo";
            std::printf("client connects to %s\n", url.c_str());
            SkrSocketNonSSL sock;
            sock.Open(url.c_str(), nullptr);

            std::unique_ptr<VexIDOM_Document> request = envelope("Echo", "hello over loopback");
            SkrMessageWriter writer("/demo/echo", 1, 1, &sock, 1, 4000, nullptr);
            writer.init();
            VexIDOM_Element root = request->getDocumentElement();
            writer.setEnvelope(root);
            writer.addAttachment("application/octet-stream", nullptr, binary.data(),
                                 static_cast<unsigned>(binary.size()), "bytes");
            writer.addAttachment("text/csv", "UTF-8", csv.data(), static_cast<unsigned>(csv.size()), "table");
            writer.close();

            SkrMessageReader response(0, sock.getInputStream(), &sock);
            readMessage(response, clientGot);
            std::printf("client got status %s %s\n", response.getHeader("skarn-status-code"),
                        response.getHeader("skarn-reason-phrase"));
        } catch (VexThrowable& t) {
            std::fprintf(stderr, "demo: client failed:\n%s\n", t.toString().c_str());
            rc = 1;
        }
        server.join();
        if (!serverFailure.empty()) {
            std::fprintf(stderr, "demo: server failed:\n%s\n", serverFailure.c_str());
            rc = 1;
        }
        show("server", serverGot);
        show("client", clientGot);
        bool same = serverGot.size() == 3 && serverGot[0].bytes == "hello over loopback" &&
                    serverGot[1].bytes == binary && serverGot[2].bytes == csv && clientGot.size() == 2 &&
                    clientGot[0].bytes == "received, thank you" && clientGot[1].bytes == "3 parts";
        std::printf("%s\n", same ? "exchange complete: every byte arrived as sent"
                                 : "exchange FAILED: received parts differ from those sent");
        if (!same)
            rc = 1;
    }
    SkarnProcessTerminate(nullptr);
    return rc;
}
