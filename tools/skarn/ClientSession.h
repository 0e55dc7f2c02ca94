#ifndef SKARN_TOOL_CLIENT_SESSION_H
#define SKARN_TOOL_CLIENT_SESSION_H

class ClientTarget;
class Skarn;
class SkarnSession;

// A client session of the factory for the target's URL and document (its
// TLS settings and time-outs), released (connection pooled or closed) when
// the object goes.
class ClientSession {
public:
    // Connection failures pass unchanged (the toolkit's exceptions).
    ClientSession(Skarn& factory, const ClientTarget& target);
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    SkarnSession& session() { return *m_session; }

private:
    SkarnSession* m_session = nullptr;
};

#endif
