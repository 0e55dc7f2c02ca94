#ifndef SKARN_TOOL_SERVE_COMMAND_H
#define SKARN_TOOL_SERVE_COMMAND_H

#include <skarn/runtime/SkarnServerRuntime.h>

#include "ToolError.h"

#include <string>

namespace CLI {
class App;
}

// `skarn serve`: a SOAP endpoint on the toolkit's server runtime (one event
// loop holds the connections, workers serve the requests; see
// docs/server.md). SIGINT and SIGTERM stop it gracefully: no more accepting,
// idle connections close, requests in flight finish within --drain seconds
// (their responses say "Connection: close"), exit 0. --stats S prints the
// runtime's counters on stderr every S seconds.
class ServeCommand {
public:
    explicit ServeCommand(CLI::App& parent);
    bool chosen() const;
    int run();

private:
    std::string listenerDocument() const;
    // The exception being handled, raised while opening the listener, in words.
    ToolError listenFailure() const;

    CLI::App* m_app;
    int m_port = -1;
    std::string m_bind = "127.0.0.1", m_respond, m_tlsCert, m_tlsKey, m_logFormat = "text", m_overLimit = "refuse";
    SkarnServerRuntime::Limits m_limits;
    int m_stats = 0;
    bool m_log = false;
};

#endif
