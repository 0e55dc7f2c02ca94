#ifndef SKARN_SERVER_SESSION_H
#define SKARN_SERVER_SESSION_H

#include "../platform/core/SkarnExport.h"

#include <string>

class SkarnMessageReader;
class SkarnMessageWriter;
class SkarnSocket;
class VexIDOM_Element;
class VexIDOM_Node;

// A server session: one request and its response on an accepted connection,
// which the session uses but never owns (the host closes it or serves a
// further request on it). release() deletes the session.
//
// Virtual slots: 0 destructor, 1-2 setProperty, 3-4 echo, 5 readRequestEnvelope,
// 6 respond, 7 openRequest, 8 closeRequest, 9 openResponse, 10 closeResponse,
// 11 release (pure). The bodies here raise SkarnException errNotSupported.
class SKARN_EXPORT SkarnServerSession {
public:
    SkarnServerSession() = default;
    explicit SkarnServerSession(SkarnSocket* socket) : m_server_sock(socket) {}
    virtual ~SkarnServerSession();
    virtual void setProperty(const std::string& key, int value);
    virtual void setProperty(const std::string& key, const std::string& value);
    virtual void echo(const char* sfilename);
    virtual void echo(const char* sfilename, const char* mode, int echo_rw);
    virtual void readRequestEnvelope(VexIDOM_Node& request);
    virtual void respond(VexIDOM_Element& response);
    virtual SkarnMessageReader& openRequest();
    virtual void closeRequest(SkarnMessageReader& r);
    virtual SkarnMessageWriter& openResponse(int attachments);
    virtual void closeResponse(SkarnMessageWriter& w);
    virtual void release() = 0;

    // The accepted connection this session serves (not owned).
    SkarnSocket* getServerSocket() { return m_server_sock; }

protected:
    SkarnSocket* m_server_sock = nullptr;
};

#endif
