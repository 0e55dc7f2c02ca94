#include "support/SkarnTestServer.h"

#include "api/Skarn.h"
#include "api/SkarnAttachmentReader.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnServerSession.h"
#include "conn/SkarnServerSocket.h"
#include "net/SkarnSocket.h"
#include "platform/core/VexThrowable.h"
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/streams/QioInputStream.h"
#include "platform/streams/QioOutputStream.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <memory>

SkarnTestServer::SkarnTestServer(Handler handler, const std::string& tlsDocument, int port)
    : m_handler(std::move(handler))
{
    start(tlsDocument, port);
}

SkarnTestServer::SkarnTestServer(SocketHandler handler, const std::string& tlsDocument)
    : m_socketHandler(std::move(handler))
{
    start(tlsDocument, 0);
}

void SkarnTestServer::start(const std::string& tlsDocument, int port)
{
    m_factory = Skarn::getSessionFactory();
    m_factory->setProperty("QSMSSLServer", tlsDocument.empty() ? 0 : 1);
    std::string doc = tlsDocument;
    char loopback[] = "127.0.0.1";  // never reachable from another machine
    m_listener = m_factory->getServerSocket(loopback, port, doc.empty() ? nullptr : &doc[0]);
    m_port = m_listener->getListenOnPort();
    m_acceptor = std::thread([this] { acceptLoop(); });
}

SkarnTestServer::~SkarnTestServer()
{
    m_stop = true;
    m_acceptor.join();
    for (std::thread& t : m_threads)
        t.join();
    m_listener->release();
    delete m_factory;
}

void SkarnTestServer::awaitClosed(int n) const
{
    for (int i = 0; i < 1000 && m_closed < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void SkarnTestServer::acceptLoop()
{
    while (!m_stop) {
        try {
            if (SkarnSocket* sock = m_listener->awaitCommunicationAttempt(1)) {
                ++m_accepted;
                m_threads.emplace_back([this, sock] { serve(sock); });
            }
        } catch (VexThrowable&) {
            // A client that failed its handshake; the listener goes on.
        }
    }
}

void SkarnTestServer::serve(SkarnSocket* sock)
{
    if (m_socketHandler) {
        try {
            m_socketHandler(*sock);
        } catch (VexThrowable&) {
            // the client went away; the test's own checks tell
        }
    }
    for (bool more = !m_socketHandler; more;) {
        SkarnServerSession* session = m_factory->getServerSession(sock);
        try {
            more = m_handler(*session);
        } catch (VexThrowable&) {
            more = false;  // the client closed the connection, or broke the exchange
        }
        try {
            session->release();
        } catch (VexThrowable&) {
            more = false;
        }
    }
    sock->release();  // not reusable: closed and deleted
    ++m_closed;
}

SkarnTestServer::Handler SkarnTestServer::echo()
{
    return [](SkarnServerSession& s) {
        SkarnMessageReader& r = s.openRequest();
        std::unique_ptr<VexIDOM_Document> holder(
            VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder"));
        VexIDOM_Element h = holder->getDocumentElement();
        r.getEnvelope(h);
        const char* connection = r.getHeader("connection");
        bool keep = !connection || ::strcasecmp(connection, "close") != 0;
        s.setProperty("send-content-length", r.getHeader("content-length") ? 1 : 0);
        SkarnMessageWriter& w = s.openResponse(r.hasMoreAttachments());
        VexIDOM_Node envelope = h.getFirstChild();
        w.setEnvelope(envelope);
        while (r.hasMoreAttachments()) {
            SkarnAttachmentReader& a = r.openNextAttachment();
            std::string bytes = readStream(a.getInputStream());
            w.addAttachment(a.getContentType(), nullptr, bytes.data(), static_cast<unsigned>(bytes.size()), a.getContentID());
            r.closeAttachment(a);
        }
        s.closeRequest(r);
        s.closeResponse(w);
        return keep;
    };
}

VexIDOM_Document* soapEnvelope(const std::string& text)
{
    const char* soap = "http://schemas.xmlsoap.org/soap/envelope/";
    VexIDOM_Document* doc = VexIDOM_DOMImplementation::getImplementation().createDocument(soap, "soap:Envelope");
    VexIDOM_Element op = doc->createElementNS("urn:mirra:test", "m:Echo");
    op.appendChild(doc->createTextNode(text.c_str()));
    doc->getDocumentElement().appendChild(doc->createElementNS(soap, "soap:Body")).appendChild(op);
    return doc;
}

std::string serialiseNode(const VexIDOM_Node& node)
{
    struct StringDomWriter : DomWriter {
        void writeChars(const char* data, unsigned length) override { out.append(data, length); }
        std::string out;
    } w;
    VexIDOM_Helper::write(node, w);
    return w.out;
}

void writeAll(SkarnSocket& s, const std::string& bytes)
{
    s.getOutputStream().write(bytes.data(), static_cast<unsigned>(bytes.size()));
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
