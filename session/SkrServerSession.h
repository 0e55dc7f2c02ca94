#ifndef SKR_SERVER_SESSION_H
#define SKR_SERVER_SESSION_H

#include "api/SkarnServerSession.h"
#include "platform/core/VexThreadSpare.h"
#include "session/SkrPropertyTable.h"

#include <atomic>
#include <string>

// A server session around an accepted connection that the host keeps: the
// request read through a message reader, the response written through a
// message writer, each owned by the session while open.
//
//   s = factory->getServerSession(accepted);
//   s->readRequestEnvelope(node);   (or) r = s->openRequest(); read; s->closeRequest(r);
//   s->respond(envelope);           (or) w = s->openResponse(n); write; s->closeResponse(w);
//   ... further requests on a kept-alive connection ...
//   s->release();                   the session goes; the connection stays open.
//
// Properties (exact keys): "boundary", "chunk-size", "send-content-length"
// configure the response writer, "soap-version" ("1.1" or "1.2") its SOAP
// framing as for the client session; other keys raise VexIllegalArgumentError
// "SkrServerSession::setProperty". Opening a second reader or writer, or
// closing another object than the one opened, fails a VEX_ASSERT. Failures of
// reading or writing pass to the caller with the reader or writer still open;
// release() disposes of it.
class SkrServerSession : public SkarnServerSession {
public:
    VEX_THREAD_RECYCLED;
    // `socket` not owned.
    explicit SkrServerSession(SkarnSocket* socket);
    ~SkrServerSession() override;
    SkrServerSession(const SkrServerSession&) = delete;
    SkrServerSession& operator=(const SkrServerSession&) = delete;

    void setProperty(const std::string& key, int value) override;
    void setProperty(const std::string& key, const std::string& value) override;
    void echo(const char* sfilename) override;
    void echo(const char* sfilename, const char* mode, int echo_rw) override;
    void readRequestEnvelope(VexIDOM_Node& request) override;
    void respond(VexIDOM_Element& response) override;
    SkarnMessageReader& openRequest() override;
    void closeRequest(SkarnMessageReader& r) override;
    SkarnMessageWriter& openResponse(int attachments) override;
    void closeResponse(SkarnMessageWriter& w) override;
    void release() override;

    // For a server runtime that owns the connection (not virtual: the public
    // base's slots stay as they are). setClosing: the response carries
    // "Connection: close" (also when `draining` or `asked` is set by the
    // time the response opens; neither owned). requestComplete: the request was closed standing
    // at its framed end (the connection can carry the next one).
    // responseComplete: a response was closed whole. responseStarted: some of
    // a response may have reached the wire.
    void setClosing(bool closing, const std::atomic<bool>* draining = nullptr, const bool* asked = nullptr)
    {
        m_closing = closing;
        m_draining = draining;
        m_asked = asked;
    }
    bool requestComplete() const { return m_requestComplete; }
    bool responseComplete() const { return m_responseComplete; }
    bool responseStarted() const;

private:

    SkarnMessageWriter* m_serv_writer;
    SkarnMessageReader* m_serv_reader;
    SkrPropertyTable m_properties;
    bool m_closing = false;
    const std::atomic<bool>* m_draining = nullptr;
    const bool* m_asked = nullptr;
    bool m_requestComplete = false;
    bool m_responseComplete = false;
};

#endif
