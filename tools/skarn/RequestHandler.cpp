#include "skarn/RequestHandler.h"

#include "api/Skarn.h"
#include "api/SkarnAttachmentReader.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnServerSession.h"
#include "platform/core/VexThrowable.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/streams/QioInputStream.h"
#include "platform/streams/QioOutputStream.h"
#include "skarn/MimeBoundary.h"
#include "skarn/SoapFault.h"
#include "skarn/ToolError.h"
#include "skarn/WatchedSocket.h"

#include <strings.h>

#include <cctype>
#include <memory>
#include <vector>

namespace {

struct Part {
    std::string id, type, bytes;
};

// What was read of one request.
struct Request {
    std::unique_ptr<VexIDOM_Document> holder;
    std::vector<Part> parts;
    std::string version, connection;
    bool soap12 = false;  // the envelope came as application/soap+xml (alone or as the multipart root type)
    bool hadLength = false;
};

std::string header(SkarnMessageReader& r, const char* name)
{
    const char* value = r.getHeader(name);
    return value ? value : "";
}

std::string readAll(QioInputStream& in)
{
    std::string out;
    char buffer[65536];
    for (unsigned n; (n = in.read(buffer, sizeof buffer)) != QioInputStream::END;)
        out.append(buffer, n);
    return out;
}

// SOAP 1.2 by its content type: "application/soap+xml", or a multipart message whose root type is that.
bool isSoap12(std::string type)
{
    for (char& c : type)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return type.compare(0, 20, "application/soap+xml") == 0 ||
           (type.compare(0, 10, "multipart/") == 0 && type.find("type=\"application/soap+xml\"") != std::string::npos);
}

struct SessionRelease {
    SkarnServerSession* session;
    ~SessionRelease()
    {
        try {
            session->release();
        } catch (VexThrowable&) {
            // A response left half written: the connection is closed after this.
        }
    }
};

}  // namespace

RequestHandler::Outcome RequestHandler::serve(WatchedSocket& socket)
{
    Outcome outcome;
    SkarnServerSession* s = m_factory.getServerSession(&socket);
    SessionRelease guard{s};
    Request request;
    std::string fault;
    SkarnMessageReader* reader = nullptr;
    try {
        reader = &s->openRequest();
        request.holder.reset(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder"));
        VexIDOM_Element holder = request.holder->getDocumentElement();
        reader->getEnvelope(holder);
        outcome.method = header(*reader, "skarn-method");
        outcome.path = header(*reader, "skarn-uri");
        request.version = header(*reader, "skarn-http-version");
        request.connection = header(*reader, "connection");
        request.soap12 = isSoap12(header(*reader, "content-type"));
        request.hadLength = reader->getHeader("content-length") != nullptr;
        while (reader->hasMoreAttachments()) {
            SkarnAttachmentReader& a = reader->openNextAttachment();
            Part part{a.getContentID() ? a.getContentID() : "", a.getContentType() ? a.getContentType() : "", ""};
            part.bytes = readAll(a.getInputStream());
            reader->closeAttachment(a);
            request.parts.push_back(std::move(part));
        }
        s->closeRequest(*reader);
        outcome.readWhole = true;
        // A request without a body ("Content-Length: 0", an empty chunked body) has nothing to echo.
        if (holder.getFirstChild().isNull())
            fault = "the request carries no envelope";
    } catch (...) {
        socket.stopReading();  // the reader's clean-up must not wait for the rest
        if (socket.expiry() != WatchedSocket::NotExpired)
            return outcome;
        fault = ToolError::describeCurrent(false);
        if (reader && outcome.method.empty()) {
            outcome.method = header(*reader, "skarn-method");
            outcome.path = header(*reader, "skarn-uri");
            request.soap12 = isSoap12(header(*reader, "content-type"));
        }
    }

    const bool http10 = request.version == "HTTP/1.0";
    try {
        s->setProperty("send-content-length", !fault.empty() || http10 || request.hadLength ? 1 : 0);
        s->setProperty("soap-version", request.soap12 ? "1.2" : "1.1");
        const bool echo = fault.empty() && m_fixedResponse.empty();
        if (echo && !request.parts.empty()) {
            std::vector<const std::string*> parts;
            for (const Part& p : request.parts)
                parts.push_back(&p.bytes);
            s->setProperty("boundary", MimeBoundary::choose(parts));
        }
        SkarnMessageWriter& w = s->openResponse(echo && !request.parts.empty() ? 1 : 0);
        outcome.status = fault.empty() ? 200 : 500;
        if (!fault.empty())
            w.setResponseStatus(500, "Internal Server Error");
        if (echo) {
            VexIDOM_Node envelope = request.holder->getDocumentElement().getFirstChild();
            w.setEnvelope(envelope);
            for (const Part& p : request.parts)
                w.addAttachment(p.type.c_str(), nullptr, p.bytes.data(), static_cast<unsigned>(p.bytes.size()),
                                p.id.c_str());
        } else {
            const std::string body = !fault.empty() ? request.soap12 ? SoapFault::envelope12("Sender", fault)
                                                                     : SoapFault::envelope("Client", fault)
                                                    : m_fixedResponse;
            QioOutputStream& out = w.openEnvelope();
            out.write(body.data(), static_cast<unsigned>(body.size()));
            w.closeEnvelope(out);
        }
        s->closeResponse(w);
    } catch (...) {
        outcome.keep = false;
        return outcome;
    }
    outcome.keep = fault.empty() && !http10 && ::strcasecmp(request.connection.c_str(), "close") != 0;
    return outcome;
}
