#ifndef SKARN_TOOL_SERVE_COMMAND_H
#define SKARN_TOOL_SERVE_COMMAND_H

#include "skarn/ToolError.h"

#include <atomic>
#include <string>

namespace CLI {
class App;
}
class AccessLog;
class RequestHandler;
class SkarnServerSocket;
class SkarnSocket;

// `skarn serve`: a SOAP endpoint on the toolkit's server socket. A fixed set
// of worker threads take turns accepting; each serves its connection's
// requests one after another (keep-alive), so connections beyond --threads
// wait in the listen queue. SIGINT and SIGTERM stop it: no more accepting,
// requests in flight finish, idle connections close (within a second: every
// wait looks at the stop flag each second), exit 0.
class ServeCommand {
public:
    explicit ServeCommand(CLI::App& parent);
    bool chosen() const;
    int run();

private:
    void work(SkarnServerSocket& listener, RequestHandler& handler, AccessLog& log);
    void serveConnection(SkarnSocket* accepted, RequestHandler& handler, AccessLog& log);
    std::string listenerDocument() const;
    // The exception being handled, raised while opening the listener, in words.
    ToolError listenFailure() const;

    CLI::App* m_app;
    int m_port = -1;
    std::string m_bind = "127.0.0.1", m_respond, m_tlsCert, m_tlsKey, m_logFormat = "text";
    int m_threads = 8, m_idleTimeout = 30, m_requestTimeout = 30;
    long m_maxHead = 64 * 1024;
    bool m_log = false;
};

#endif
