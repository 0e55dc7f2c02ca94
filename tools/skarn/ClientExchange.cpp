#include "skarn/ClientExchange.h"

#include "api/SkarnAttachmentReader.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnSession.h"
#include "platform/streams/QioInputStream.h"
#include "platform/streams/QioOutputStream.h"
#include "skarn/ClientSession.h"
#include "skarn/MimeBoundary.h"
#include "skarn/ToolError.h"

#include <algorithm>
#include <cstdlib>

namespace {

const unsigned kPiece = 65536;

void writeAll(QioOutputStream& out, const std::string& bytes)
{
    for (std::size_t at = 0; at < bytes.size(); at += kPiece)
        out.write(bytes.data() + at, static_cast<unsigned>(std::min<std::size_t>(kPiece, bytes.size() - at)));
}

std::string readAll(QioInputStream& in)
{
    std::string out;
    char buffer[kPiece];
    for (unsigned n; (n = in.read(buffer, sizeof buffer)) != QioInputStream::END;)
        out.append(buffer, n);
    return out;
}

std::string quoted(const std::string& action)
{
    return action.size() >= 2 && action.front() == '"' && action.back() == '"' ? action : "\"" + action + "\"";
}

}  // namespace

void ClientExchange::configure(ClientSession& session, const Request& request)
{
    SkarnSession& s = session.session();
    s.setProperty("send-content-length", request.contentLength ? 1 : 0);
    if (request.chunkSize > 0)
        s.setProperty("chunk-size", request.chunkSize);
    if (!request.attachments.empty()) {
        std::vector<const std::string*> parts{&request.envelope};
        for (const AttachmentSpec& a : request.attachments)
            parts.push_back(&a.bytes);
        s.setProperty("boundary", MimeBoundary::choose(parts));
    }
    for (const auto& header : request.headers) {
        if (header.first != "Authorization" && header.first != "Host")
            throw ToolError(ToolError::Usage, "--header " + header.first +
                                                  ": the toolkit sends only Authorization and Host from the caller");
        s.setProperty(header.first, header.second);
    }
}

ClientExchange::Response ClientExchange::run(ClientSession& session, const Request& request)
{
    SkarnSession& s = session.session();
    session.socket().expectMessage();
    SkarnMessageWriter& w = s.openRequest(request.attachments.empty() ? 0 : 1);
    QioOutputStream& envelope = w.openEnvelope(quoted(request.action).c_str());
    writeAll(envelope, request.envelope);
    w.closeEnvelope(envelope);
    for (const AttachmentSpec& a : request.attachments) {
        QioOutputStream& part = w.openAttachment(a.type.c_str(), nullptr, a.id.c_str(), 0);
        writeAll(part, a.bytes);
        w.closeAttachment(part);
    }
    s.closeRequest(w);

    Response response;
    SkarnMessageReader& r = s.openResponse();
    QioInputStream& in = r.openEnvelope();
    response.envelope = readAll(in);
    r.closeEnvelope(in);
    const char* status = r.getHeader("skarn-status-code");
    const char* reason = r.getHeader("skarn-reason-phrase");
    response.status = status ? std::atoi(status) : 0;
    response.reason = reason ? reason : "";
    while (r.hasMoreAttachments()) {
        SkarnAttachmentReader& a = r.openNextAttachment();
        Part part{a.getContentID() ? a.getContentID() : "", a.getContentType() ? a.getContentType() : "", ""};
        part.bytes = readAll(a.getInputStream());
        r.closeAttachment(a);
        response.attachments.push_back(std::move(part));
    }
    s.closeResponse(r);
    return response;
}
