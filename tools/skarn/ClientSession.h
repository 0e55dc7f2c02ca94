#ifndef SKARN_TOOL_CLIENT_SESSION_H
#define SKARN_TOOL_CLIENT_SESSION_H

#include "skarn/WatchedSocket.h"

#include <atomic>
#include <memory>

class ClientTarget;
class Skarn;
class SkarnSession;

// A client session of the factory on a connection of its own, watched by the
// tool (time limits, byte counts, heads): the connection is opened first,
// wrapped, and handed to the pool, where the factory's getSession finds it.
// Released (connection pooled or closed) when the object goes.
class ClientSession {
public:
    // Connection failures pass unchanged (the toolkit's exceptions).
    ClientSession(Skarn& factory, const ClientTarget& target, const WatchedSocket::Limits& limits);
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    SkarnSession& session() { return *m_session; }
    WatchedSocket& socket() { return *m_socket; }

private:
    SkarnSession* m_session = nullptr;
    WatchedSocket* m_socket = nullptr;  // the session's; valid while the session lives
};

#endif
