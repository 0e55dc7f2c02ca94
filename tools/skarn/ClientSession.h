#ifndef SKARN_TOOL_CLIENT_SESSION_H
#define SKARN_TOOL_CLIENT_SESSION_H

#include "ToolError.h"

class ClientTarget;
class Skarn;
class SkarnSession;

// A client session of the factory for the target's URL and document (its
// TLS settings and time-outs), released (connection pooled or closed) when
// the object goes.
class ClientSession {
public:
    // A connection failure raises ToolError (ToolError::fromCurrent, Connecting).
    ClientSession(Skarn& factory, const ClientTarget& target);
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    SkarnSession& session() { return *m_session; }
    const ToolError::Peer& peer() const { return m_peer; }

private:
    ToolError::Peer m_peer;
    SkarnSession* m_session = nullptr;
};

#endif
