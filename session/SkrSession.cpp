#include "session/SkrSession.h"

#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "net/SkarnSocket.h"
#include "net/SkarnSocketInputStream.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/dom/VexIDOM_Element.h"

#include <strings.h>

#include <cstddef>
#include <cstring>
#include <cstdlib>
#include <iterator>

SkrSession::SkrSession(Skarn* factory, SkarnSocket* socket, const char* path)
    : m_factory(factory),
      m_session_sock(socket),
      m_path(path),
      m_request_open(0),
      m_current_writer(nullptr),
      m_current_reader(nullptr),
      m_properties({"boundary", "chunk-size", "send-content-length", "Authorization", "Host", "soap-version", "method"}),
      m_timer("*Sending request", "MIRRA")
{
}

SkrSession::~SkrSession()
{
    m_current_writer = nullptr;
    m_current_reader = nullptr;
    m_session_sock = nullptr;
    m_factory = nullptr;
}

void SkrSession::setProperty(const std::string& key, int value)
{
    setProperty(key, SkrPropertyTable::decimal(value));
}

namespace {

const char* const HEADER_KEY = "header:";

bool sameName(const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; }

[[noreturn]] void refuseKey(const std::string& why)
{
    VexIllegalArgumentError(0, why.c_str()).hurl(VEX_LOCATION, "SkrSession::setProperty", "VEX_THROW");
}

}  // namespace

void SkrSession::setHeader(const std::string& name, const std::string& value)
{
    const std::string problem = headerProblem(name, value);
    if (!problem.empty())
        refuseKey(problem);
    for (const char* own : {"Authorization", "Host"})
        if (sameName(name, own)) {
            setProperty(own, value);
            return;
        }
    for (auto it = m_headers.begin(); it != m_headers.end();)
        it = it->first.compare(0, 7, HEADER_KEY) == 0 && sameName(it->first.substr(7), name.c_str())
                 ? m_headers.erase(it)
                 : std::next(it);
    if (!value.empty())
        m_headers[HEADER_KEY + name] = value;
}

void SkrSession::setProperty(const std::string& key, const std::string& value)
{
    if (key.compare(0, 7, HEADER_KEY) == 0) {
        setHeader(key.substr(7), value);
        return;
    }
    if (key == "method" && value != "POST" && value != "GET")
        refuseKey("method is \"POST\" or \"GET\", not \"" + value + "\"");
    if (key == "soap-version" && value != "1.1" && value != "1.2")
        refuseKey("soap-version is \"1.1\" or \"1.2\", not \"" + value + "\"");
    if (!m_properties.set(key, value))
        VexIllegalArgumentError(0, nullptr).hurl(VEX_LOCATION, "SkrSession::setProperty", "VEX_THROW");
    if (key == "Authorization" || key == "Host")
        m_headers[key] = value;
}

void SkrSession::echo(const char* sfilename)
{
    if (m_session_sock) {
        m_session_sock->echo(sfilename);
        m_echoing = true;
    }
}

void SkrSession::echo(const char* sfilename, const char* mode, int echo_rw)
{
    if (m_session_sock) {
        m_session_sock->echo(sfilename, mode, echo_rw);
        m_echoing = true;
    }
}

void SkrSession::doRequest(VexIDOM_Element& request, VexIDOM_Node& response)
{
    sendRequest(request);
    getResponse(response);
}

void SkrSession::sendRequest(VexIDOM_Element& request)
{
    SkarnMessageWriter& w = openRequest(0);
    w.setEnvelope(request);
    closeRequest(w);
}

void SkrSession::getResponse(VexIDOM_Node& response)
{
    if (m_request_open == 0)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrSession::getResponse - no request was sent", "VEX_THROW");
    SkarnMessageReader& r = openResponse();
    r.getEnvelope(response);
    closeResponse(r);
}

SkarnMessageWriter& SkrSession::openRequest(int attachments)
{
    VEX_ASSERT(m_current_writer == NULL);
    const SkrPropertyTable::Transfer t = m_properties.transfer();
    SkrMessageWriter* writer = VEX_GUARDED_NEW(
        "SkrSession::openRequest",
        new SkrMessageWriter(m_path.c_str(), 1, attachments, m_session_sock, t.chunked, t.chunkSize, t.boundaryOrNull()));
    m_current_writer = writer;
    std::string soapVersion;
    writer->setSoap12(m_properties.get("soap-version", soapVersion) && soapVersion == "1.2");
    std::string method;
    writer->setGet(m_properties.get("method", method) && method == "GET");
    try {
        writer->init();
    } catch (VexThrowable& t) {
        dropWriter();
        VEX_RETHROW(t, "SkrSession::openRequest");
    } catch (...) {
        dropWriter();
        throw;
    }
    writer->setProperties(&m_headers);
    m_request_open = 1;
    return *writer;
}

void SkrSession::dropWriter()
{
    m_session_sock->disableReuse();
    delete m_current_writer;
    m_current_writer = nullptr;
}

void SkrSession::closeRequest(SkarnMessageWriter& w)
{
    VEX_ASSERT(m_current_writer == &w);
    if (!m_current_writer)
        return;
    try {
        m_current_writer->close();
    } catch (VexThrowable& t) {
        dropWriter();
        VEX_RETHROW(t, "SkrSession::closeRequest");
    } catch (...) {
        dropWriter();
        throw;
    }
    delete m_current_writer;
    m_current_writer = nullptr;
}

SkarnMessageReader& SkrSession::openResponse()
{
    VEX_ASSERT(m_session_sock);
    if (m_request_open == 0)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrSession::openResponse - no request was sent", "VEX_THROW");
    m_request_open = 0;
    VEX_ASSERT(m_current_reader == NULL);
    SkarnSocketInputStream& in = m_session_sock->getInputStream();
    m_current_reader = VEX_GUARDED_NEW("SkrSession::openResponse", new SkrMessageReader(0, in, m_session_sock));
    const SkarnSocket::Limits& limits = m_session_sock->getLimits();
    if (limits.readTimeoutSeconds > 0 || limits.responseTimeoutSeconds > 0)
        in.setResponseLimits(limits.readTimeoutSeconds, limits.responseTimeoutSeconds);
    return *m_current_reader;
}

void SkrSession::closeResponse(SkarnMessageReader& r)
{
    VEX_ASSERT(m_current_reader == &r);
    // What the caller left unread is read now, so that the connection stands
    // at the next response; a response that cannot be read to its end leaves
    // the connection unfit for another one.
    const bool complete = m_current_reader->finish();
    if (m_session_sock->isReusable() == 1) {
        // The server ends the connection after this answer when it says
        // "close", or answers HTTP/1.0 without asking to keep it alive.
        const char* connection = r.getHeader("connection");
        const char* version = r.getHeader("skarn-http-version");
        const bool http10 = version && std::strcmp(version, "HTTP/1.0") == 0;
        const bool close = connection ? ::strcasecmp(connection, "close") == 0 ||
                                            (http10 && ::strcasecmp(connection, "keep-alive") != 0)
                                      : http10;
        if (!complete || close)
            m_session_sock->disableReuse();
    }
    dropReader();
}

void SkrSession::dropReader()
{
    delete m_current_reader;
    m_current_reader = nullptr;
    SkarnSocketInputStream& in = m_session_sock->getInputStream();
    if (in.hasResponseLimits())
        in.setResponseLimits(0, 0);
}

void SkrSession::release()
{
    if (m_current_writer) {
        m_current_writer->close();
        delete m_current_writer;
        m_current_writer = nullptr;
    }
    if (m_current_reader) {
        // A response the caller stopped reading is not waited for: the
        // connection is closed instead of reused.
        m_current_reader->abandon();
        dropReader();
    }
    if (m_session_sock) {
        if (m_echoing)
            m_session_sock->echo(nullptr, nullptr, 0);  // the next holder of the connection is not traced
        m_session_sock->release();
    }
    delete this;
}
