#include "ClientExchange.h"

#include <skarn/api/SkarnAttachmentReader.h>
#include <skarn/api/SkarnMessageReader.h>
#include <skarn/api/SkarnMessageWriter.h>
#include <skarn/api/SkarnSession.h>
#include <skarn/platform/core/VexIllegalArgumentError.h>
#include <skarn/platform/streams/QioInputStream.h>
#include <skarn/platform/streams/QioOutputStream.h>

#include "ClientSession.h"
#include "MimeBoundary.h"
#include "ProgressMeter.h"
#include "ToolError.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>


namespace {

const unsigned kPiece = 65536;

void writeAll(QioOutputStream& out, const std::string& bytes, ProgressMeter* progress)
{
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const unsigned n = static_cast<unsigned>(std::min<std::size_t>(kPiece, bytes.size() - at));
        out.write(bytes.data() + at, n);
        if (progress)
            progress->add(n);
    }
}

std::string readAll(QioInputStream& in, ProgressMeter* progress)
{
    std::string out;
    char buffer[kPiece];
    for (unsigned n; (n = in.read(buffer, sizeof buffer)) != QioInputStream::END;) {
        out.append(buffer, n);
        if (progress)
            progress->add(n);
    }
    return out;
}

std::string quoted(const std::string& action)
{
    return action.size() >= 2 && action.front() == '"' && action.back() == '"' ? action : "\"" + action + "\"";
}

// The request head the session composes from the tool's settings.
void showRequestHead(std::ostream& out, const std::string& path, const ClientExchange::Request& request)
{
    out << (request.get ? "> GET " : "> POST ") << path << " HTTP/1.1\n";
    if (!request.soap12 && !request.get)
        out << "> SOAPAction: " << quoted(request.action) << "\n";
    // As the session keeps them: Authorization and Host first, then the others sorted by name; a name given
    // again (in any letter case) replaces the earlier one, an empty value removes it.
    std::map<std::string, std::string> own, others;
    for (const auto& header : request.headers) {
        const bool isOwn = ::strcasecmp(header.first.c_str(), "Authorization") == 0 ||
                           ::strcasecmp(header.first.c_str(), "Host") == 0;
        std::map<std::string, std::string>& into = isOwn ? own : others;
        for (auto it = into.begin(); it != into.end();)
            it = ::strcasecmp(it->first.c_str(), header.first.c_str()) == 0 ? into.erase(it) : std::next(it);
        if (!header.second.empty() || isOwn)
            into[isOwn ? (::strcasecmp(header.first.c_str(), "Host") == 0 ? "Host" : "Authorization") : header.first] =
                header.second;
    }
    for (const auto* headers : {&own, &others})
        for (const auto& header : *headers)
            out << "> " << header.first << ": " << header.second << "\n";
    const std::string soap12 = "application/soap+xml; charset=UTF-8" +
                               (request.action.empty() || request.action == "\"\"" ? std::string()
                                                                                 : "; action=" + quoted(request.action));
    const std::string root = request.soap12 ? "application/soap+xml" : "text/xml";
    if (request.get) {
        out << "> Content-Length: 0\n";
        return;
    }
    out << (!request.attachments.empty() ? "> Content-Type: multipart/related; type=\"" + root + "\"\n"
            : request.soap12             ? "> Content-Type: " + soap12 + "\n"
                                         : std::string("> Content-Type: text/xml; charset=UTF-8\n"))
        << (request.contentLength ? "> Content-Length: (of the body)\n" : "> Transfer-Encoding: chunked\n");
}

// The response head as the toolkit parsed it: the status line and every
// field (names in lower case, sorted; the reader lists them under
// "skarn-field-names"), "name: value" lines ended by CR LF.
std::string responseHead(SkarnMessageReader& r)
{
    const char* version = r.getHeader("skarn-http-version");
    const char* status = r.getHeader("skarn-status-code");
    const char* reason = r.getHeader("skarn-reason-phrase");
    std::string head = std::string(version ? version : "HTTP/1.1") + " " + (status ? status : "") + " " +
                       (reason ? reason : "") + "\r\n";
    const char* listed = r.getHeader("skarn-field-names");
    const std::string names = listed ? listed : "";
    for (std::size_t at = 0; at < names.size();) {
        const std::size_t end = std::min(names.find(", ", at), names.size());
        const std::string name = names.substr(at, end - at);
        if (const char* value = r.getHeader(name.c_str()))
            head += name + ": " + value + "\r\n";
        at = end + 2;
    }
    return head + "\r\n";
}

// The response head as "< " lines.
void showResponseHead(std::ostream& out, const std::string& head)
{
    for (std::size_t at = 0, end; (end = head.find("\r\n", at)) != std::string::npos && end > at; at = end + 2)
        out << "< " << head.substr(at, end - at) << "\n";
    out.flush();
}

}  // namespace

void ClientExchange::configure(ClientSession& session, const Request& request)
{
    SkarnSession& s = session.session();
    s.setProperty("send-content-length", request.contentLength ? 1 : 0);
    s.setProperty("soap-version", request.soap12 ? "1.2" : "1.1");
    s.setProperty("method", request.get ? "GET" : "POST");
    if (request.chunkSize > 0)
        s.setProperty("chunk-size", request.chunkSize);
    if (!request.attachments.empty()) {
        std::vector<const std::string*> parts{&request.envelope};
        for (const AttachmentSpec& a : request.attachments)
            parts.push_back(&a.bytes);
        s.setProperty("boundary", MimeBoundary::choose(parts));
    }
    for (const auto& header : request.headers) {
        try {
            s.setProperty("header:" + header.first, header.second);
        } catch (const VexIllegalArgumentError& e) {
            throw ToolError(ToolError::Usage, "--header: " + e.getMessage().str());
        }
    }
}

namespace {

ClientExchange::Response readResponse(SkarnSession& s, const ClientExchange::Watch& watch);

ClientExchange::Response exchange(ClientSession& session, const ClientExchange::Request& request,
                                  const ClientExchange::Watch& watch)
{
    SkarnSession& s = session.session();
    if (watch.heads)
        showRequestHead(*watch.heads, request.path, request);
    if (request.get) {
        s.closeRequest(s.openRequest(0));
        return readResponse(s, watch);
    }
    SkarnMessageWriter& w = s.openRequest(request.attachments.empty() ? 0 : 1);
    QioOutputStream& envelope = w.openEnvelope(quoted(request.action).c_str());
    writeAll(envelope, request.envelope, watch.progress);
    w.closeEnvelope(envelope);
    for (const AttachmentSpec& a : request.attachments) {
        QioOutputStream& part = w.openAttachment(a.type.c_str(), nullptr, a.id.c_str(), 0);
        writeAll(part, a.bytes, watch.progress);
        w.closeAttachment(part);
    }
    s.closeRequest(w);
    return readResponse(s, watch);
}

// The response to the request just sent.
ClientExchange::Response readResponse(SkarnSession& s, const ClientExchange::Watch& watch)
{
    ClientExchange::Response response;
    SkarnMessageReader& r = s.openResponse();
    QioInputStream& in = r.openEnvelope();
    response.head = responseHead(r);
    if (watch.heads)
        showResponseHead(*watch.heads, response.head);
    response.envelope = readAll(in, watch.progress);
    r.closeEnvelope(in);
    // HTTP/1.0 closes unless it says otherwise; HTTP/1.1 when it says so.
    const char* connection = r.getHeader("connection");
    const char* version = r.getHeader("skarn-http-version");
    const bool http10 = version && std::strcmp(version, "HTTP/1.0") == 0;
    const bool keepAlive = connection && ::strcasecmp(connection, "keep-alive") == 0;
    response.closes = (connection && ::strcasecmp(connection, "close") == 0) || (http10 && !keepAlive);
    const char* status = r.getHeader("skarn-status-code");
    const char* reason = r.getHeader("skarn-reason-phrase");
    response.status = status ? std::atoi(status) : 0;
    response.reason = reason ? reason : "";
    const char* location = r.getHeader("location");
    response.location = location ? location : "";
    while (r.hasMoreAttachments()) {
        SkarnAttachmentReader& a = r.openNextAttachment();
        ClientExchange::Part part{a.getContentID() ? a.getContentID() : "", a.getContentType() ? a.getContentType() : "", ""};
        part.bytes = readAll(a.getInputStream(), watch.progress);
        r.closeAttachment(a);
        response.attachments.push_back(std::move(part));
    }
    s.closeResponse(r);
    return response;
}

}  // namespace

ClientExchange::Response ClientExchange::run(ClientSession& session, const Request& request, const Watch& watch)
{
    try {
        return exchange(session, request, watch);
    } catch (...) {
        throw ToolError::fromCurrent(session.peer(), ToolError::Exchanging, 0);
    }
}
