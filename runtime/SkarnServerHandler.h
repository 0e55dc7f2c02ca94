#ifndef SKARN_SERVER_HANDLER_H
#define SKARN_SERVER_HANDLER_H

#include "../platform/core/SkarnExport.h"

#include <string>

class SkarnServerSession;

// One request as a server runtime's handler and its access log see it.
struct SkarnServerExchange {
    std::string peer;          // the client's address ("127.0.0.1", "::1")
    std::string method, path;  // from the request line
    int status = 0;            // set by the handler (0: nothing answered; 200 when a response was closed whole)
    unsigned long long bytesIn = 0, bytesOut = 0;  // wire bytes of this exchange (filled in after serve)
    long long millis = 0;
    bool edge = false;         // answered by the runtime, not the handler
    // Set by the handler before it opens the response: the response says
    // "Connection: close" and the connection ends after it.
    bool close = false;
};

// What a host gives SkarnServerRuntime: called on a worker thread with a
// server session whose request is readable and whose response is writable
// (the runtime owns the session: do not release it).
//
// Virtual slots: 0-1 destructor, 2 serve (pure), 3 served.
class SKARN_EXPORT SkarnServerHandler {
public:
    virtual ~SkarnServerHandler();
    // Reads the request and writes the response. An exception it lets go
    // ends the connection (SkarnServerRuntime.h says what is answered).
    virtual void serve(SkarnServerSession& session, SkarnServerExchange& exchange) = 0;
    // After each exchange, the runtime's own answers included (an access
    // log); on the thread that served it, so from several threads at once.
    // Must not throw. Does nothing here.
    virtual void served(const SkarnServerExchange& exchange);
};

#endif
