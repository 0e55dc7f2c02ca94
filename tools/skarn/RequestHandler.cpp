#include "RequestHandler.h"

#include <skarn/api/SkarnAttachmentReader.h>
#include <skarn/api/SkarnException.h>
#include <skarn/api/SkarnMessageReader.h>
#include <skarn/api/SkarnMessageWriter.h>
#include <skarn/api/SkarnServerSession.h>
#include <skarn/platform/core/VexThrowable.h>
#include <skarn/platform/dom/VexIDOM_DOMImplementation.h>
#include <skarn/platform/dom/VexIDOM_Document.h>
#include <skarn/platform/streams/QioInputStream.h>
#include <skarn/platform/streams/QioOutputStream.h>

#include "AccessLog.h"
#include "MimeBoundary.h"
#include "SoapFault.h"

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
    std::string version;
    bool soap12 = false;  // the envelope came as application/soap+xml (alone or as the multipart root type)
    bool hadLength = false;

    void takeHead(SkarnMessageReader& reader);
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


void Request::takeHead(SkarnMessageReader& reader)
{
    version = header(reader, "skarn-http-version");
    soap12 = isSoap12(header(reader, "content-type"));
    hadLength = reader.getHeader("content-length") != nullptr;
}

}  // namespace

const char* RequestHandler::contentFault(int code)
{
    switch (code) {
    case SkarnException::errEnvelope16:
        return "the request envelope is not well-formed XML";
    case SkarnException::errEnvelope17:
        return "the request envelope is empty";
    case SkarnException::errEnvelope18:
        return "the request envelope cannot be used";
    case SkarnException::errBadContentType:
    case SkarnException::errBadBoundary:
    case SkarnException::errBadContentId:
    case SkarnException::errNotMultipart:
    case SkarnException::errMultipartStructure:
        return "the request's MIME parts are not well formed";
    case SkarnException::errBadQuotedPrintableEscape:
    case SkarnException::errBadQuotedPrintableSoftBreak:
    case SkarnException::errTransferEncoding:
        return "an attachment's transfer encoding cannot be decoded";
    default:
        return nullptr;
    }
}

void RequestHandler::serve(SkarnServerSession& s, SkarnServerRuntime::Exchange& exchange)
{
    Request request;
    std::string fault;
    SkarnMessageReader& reader = s.openRequest();
    try {
        request.holder.reset(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder"));
        VexIDOM_Element holder = request.holder->getDocumentElement();
        reader.getEnvelope(holder);
        request.takeHead(reader);
        while (reader.hasMoreAttachments()) {
            SkarnAttachmentReader& a = reader.openNextAttachment();
            Part part{a.getContentID() ? a.getContentID() : "", a.getContentType() ? a.getContentType() : "", ""};
            part.bytes = readAll(a.getInputStream());
            reader.closeAttachment(a);
            request.parts.push_back(std::move(part));
        }
        // A request without a body ("Content-Length: 0", an empty chunked body) has nothing to echo.
        if (holder.getFirstChild().isNull())
            fault = "the request carries no envelope";
    } catch (SkarnException& e) {
        const char* text = contentFault(e.getErrorCode());
        if (!text)
            throw;  // framing or transport: the runtime answers
        fault = text;
        request.takeHead(reader);  // as far as it was read
    }
    s.closeRequest(reader);  // reads what is left, so that the connection stands at the next request

    const bool http10 = request.version == "HTTP/1.0";
    s.setProperty("send-content-length", !fault.empty() || http10 || request.hadLength ? 1 : 0);
    s.setProperty("soap-version", request.soap12 ? "1.2" : "1.1");
    const bool echo = fault.empty() && m_fixedResponse.empty();
    if (echo && !request.parts.empty()) {
        std::vector<const std::string*> parts;
        for (const Part& p : request.parts)
            parts.push_back(&p.bytes);
        s.setProperty("boundary", MimeBoundary::choose(parts));
    }
    exchange.close = !fault.empty();  // a client that sent a bad request starts afresh
    SkarnMessageWriter& w = s.openResponse(echo && !request.parts.empty() ? 1 : 0);
    exchange.status = fault.empty() ? 200 : 500;
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
    s.closeResponse(w);
}

void RequestHandler::served(const SkarnServerRuntime::Exchange& e)
{
    m_log.write(AccessLog::Entry{e.peer, e.method, e.path, e.status, e.bytesIn, e.bytesOut, e.millis});
}
