#ifndef SKR_SESSION_H
#define SKR_SESSION_H

#include "api/SkarnSession.h"
#include "session/SkrPropertyTable.h"
#include "platform/core/VexTolkTimer.h"

#include <map>
#include <string>

class Skarn;
class SkarnSocket;
class SkrMessageReader;

// A client session on one connection from the pool: one exchange after
// another, each request through a new message writer, each response through a
// new message reader, both owned by the session while open.
//
//   s = factory->getSession(...);
//   s->doRequest(req, resp);                                  (or)
//   w = s->openRequest(n); write envelope and parts; s->closeRequest(w);
//   r = s->openResponse(); read envelope and parts; s->closeResponse(r);
//   ... further exchanges on the same connection ...
//   s->release();   the connection goes back to the pool, or is closed when it
//                   may not be reused; the session is deleted.
//
// Properties (exact keys): "boundary", "chunk-size", "send-content-length"
// configure the request writer; "soap-version" "1.2" makes it frame SOAP 1.2
// (SkrMessageWriter::setSoap12), "1.1" (the default) SOAP 1.1, other values
// are refused; "method" "GET" (default "POST") makes each request a GET
// without envelope or parts (SkrMessageWriter::setGet: openRequest(0), then
// closeRequest; other values are refused); "Authorization" and "Host" become request
// headers. "header:Name" adds a request header of the caller's, sent on
// every request of the session after Authorization and Host, in the order
// of the names as sorted strings, with the name as given:
//   s->setProperty("header:X-Trace-Id", "42");     -> "X-Trace-Id: 42"
// Names compare without letter case: setting a name again replaces the
// value, and an empty value removes the header. "header:Authorization" and
// "header:Host" set those two keys. Refused with VexIllegalArgumentError
// (text saying why): a name that is not an RFC 7230 token, a value holding
// CR, LF or NUL, and the headers the writer frames the message with
// (Content-Length, Transfer-Encoding, Content-Type, Content-ID,
// Content-Transfer-Encoding, MIME-Version, Connection, Keep-Alive, TE,
// Trailer, Upgrade, Expect, SOAPAction). Caller headers go on the request's
// head only, not on the parts of a multipart request.
// Other keys raise VexIllegalArgumentError "SkrSession::setProperty".
// Call order: openResponse or getResponse without a request sent raises
// VexIllegalStateError; opening a second writer or reader, or closing another
// object than the one opened, fails a VEX_ASSERT. A failure while a request is
// started or completed stops the connection's reuse. So does a response
// carrying "Connection: close" (any letter case), an HTTP/1.0 response without
// "Connection: keep-alive", one that closeResponse
// cannot read to its framed end, and one still open at release(), which is
// abandoned unread rather than waited for.
//
// Limits: the connection's SkarnSocket::Limits (from the session document the
// pool was asked with) bound each response from openResponse to
// closeResponse: readTimeoutSeconds of silence, responseTimeoutSeconds in all;
// either raises QioIOTimeoutException from the read and stops reuse.
// Echo set through the session ends with release(): the connection's next
// holder is not traced into this session's file.
// Deleting the session directly forgets the writer, reader and socket.
class SkrSession : public SkarnSession {
public:
    // `socket` not owned until release(); `path` (not null) copied.
    SkrSession(Skarn* factory, SkarnSocket* socket, const char* path);
    ~SkrSession() override;
    SkrSession(const SkrSession&) = delete;
    SkrSession& operator=(const SkrSession&) = delete;

    void setProperty(const std::string& key, int value) override;
    void setProperty(const std::string& key, const std::string& value) override;
    void echo(const char* sfilename) override;
    void echo(const char* sfilename, const char* mode, int echo_rw) override;
    void doRequest(VexIDOM_Element& request, VexIDOM_Node& response) override;
    void sendRequest(VexIDOM_Element& request) override;
    void getResponse(VexIDOM_Node& response) override;
    SkarnMessageWriter& openRequest(int attachments) override;
    void closeRequest(SkarnMessageWriter& w) override;
    SkarnMessageReader& openResponse() override;
    void closeResponse(SkarnMessageReader& r) override;
    void release() override;

private:
    // The "header:Name" property: checked, then stored in m_headers.
    void setHeader(const std::string& name, const std::string& value);
    // A writer whose start or end failed: the connection may not be reused, the writer goes.
    void dropWriter();
    // Deletes the reader and lifts the response limits it was read under.
    void dropReader();

    Skarn* m_factory;
    SkarnSocket* m_session_sock;
    std::string m_path;
    int m_request_open;
    SkarnMessageWriter* m_current_writer;
    SkrMessageReader* m_current_reader;
    SkrPropertyTable m_properties;
    // "Authorization", "Host" and "header:Name" entries, for each request writer.
    std::map<std::string, std::string> m_headers;
    VexTolkTimer m_timer;
    bool m_echoing = false;  // echo was set through this session: release() ends it
};

#endif
