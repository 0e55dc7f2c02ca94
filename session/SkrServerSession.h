#ifndef SKR_SERVER_SESSION_H
#define SKR_SERVER_SESSION_H

#include "api/SkarnServerSession.h"
#include "platform/core/VexThreadSpare.h"
#include "session/SkrPropertyTable.h"

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

private:

    SkarnMessageWriter* m_serv_writer;
    SkarnMessageReader* m_serv_reader;
    SkrPropertyTable m_properties;
};

#endif
