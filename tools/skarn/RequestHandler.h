#ifndef SKARN_TOOL_REQUEST_HANDLER_H
#define SKARN_TOOL_REQUEST_HANDLER_H

#include <string>

class Skarn;
class WatchedSocket;

// Serves one request on a server session of the factory: the request is read
// whole (envelope parsed, attachments taken), then answered with its own
// envelope and attachments (echo) or with a fixed envelope. A request that
// cannot be read, or that carries no envelope (an empty body), is answered
// with a SOAP 1.1 Client fault (status 500); one whose time ran out gets no
// answer.
class RequestHandler {
public:
    struct Outcome {
        std::string method, path;
        int status = 0;     // 0: nothing was answered
        bool keep = false;  // the connection may serve another request
        bool readWhole = false;  // the request was read to its end: none of it is left unread
    };

    // `fixedResponse` empty: echo.
    RequestHandler(Skarn& factory, std::string fixedResponse)
        : m_factory(factory), m_fixedResponse(std::move(fixedResponse)) {}

    // Nothing leaves but the outcome.
    Outcome serve(WatchedSocket& socket);

private:
    Skarn& m_factory;
    std::string m_fixedResponse;
};

#endif
