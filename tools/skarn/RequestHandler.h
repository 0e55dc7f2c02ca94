#ifndef SKARN_TOOL_REQUEST_HANDLER_H
#define SKARN_TOOL_REQUEST_HANDLER_H

#include <skarn/runtime/SkarnServerRuntime.h>

#include <string>

class AccessLog;

// What `skarn serve` does with one request: it is read whole (envelope
// parsed, attachments taken), then answered with its own envelope and
// attachments (echo) or with a fixed envelope. A request whose envelope or
// attachments cannot be understood, or that carries no envelope (an empty
// body), is answered with a SOAP Client fault (1.1, or Sender for 1.2;
// status 500) in short words without internal names. A request that cannot
// be read at all (broken framing, a client too slow, a connection gone) is
// left to the runtime, which answers it with its 4xx or closes.
class RequestHandler : public SkarnServerRuntime::Handler {
public:
    // `fixedResponse` empty: echo. `log` not owned.
    RequestHandler(std::string fixedResponse, AccessLog& log)
        : m_fixedResponse(std::move(fixedResponse)), m_log(log) {}

    void serve(SkarnServerSession& session, SkarnServerRuntime::Exchange& exchange) override;
    void served(const SkarnServerRuntime::Exchange& exchange) override;

    // The fault text for a toolkit error code met while reading a request,
    // or null when the error is not about the request's content.
    static const char* contentFault(int code);

private:
    std::string m_fixedResponse;
    AccessLog& m_log;
};

#endif
