// Skarn echo peer, the server: a SkarnServerRuntime whose handler reads each request
// envelope into a DOM, takes the text it carries and answers it in a new envelope,
// as a host that implements the echo call does.
// Usage: skarn_echo_server PORT [--close] [--tls CERT KEY]
//   PORT     0: any free one; the port is printed on the first line
//   --close  every response says "Connection: close" (one exchange per connection)
//   --tls    TLS with that PEM certificate and key
// Runs until SIGINT or SIGTERM.
#include "EchoEnvelope.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

SkarnServerRuntime* running = nullptr;

void onSignal(int)
{
    if (running)
        running->stop();
}

struct Echo : SkarnServerHandler {
    void serve(SkarnServerSession& session, SkarnServerExchange& exchange) override
    {
        VexIDOM_DOMImplementation& dom = VexIDOM_DOMImplementation::getImplementation();
        std::unique_ptr<VexIDOM_Document> request(dom.createDocument(nullptr, "request"));
        VexIDOM_Element holder = request->getDocumentElement();
        session.readRequestEnvelope(holder);
        std::unique_ptr<VexIDOM_Document> response(
            echoEnvelope("ns:echoStringResponse", "out", holder.getTextContent().str()));
        VexIDOM_Element envelope = response->getDocumentElement();
        session.respond(envelope);
        exchange.status = 200;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [--close] [--tls CERT KEY]\n", argv[0]);
        return 2;
    }
    SkarnServerRuntime::Limits limits;
    std::string document;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--close") == 0) {
            limits.maxRequestsPerConnection = 1;
        } else if (std::strcmp(argv[i], "--tls") == 0 && i + 2 < argc) {
            document = std::string("<sessionConfigDocument><certificateFile>") + argv[i + 1] +
                       "</certificateFile><privateKeyFile>" + argv[i + 2] +
                       "</privateKeyFile></sessionConfigDocument>";
            i += 2;
        } else {
            std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
            return 2;
        }
    }
    if (SkarnProcessInitialize(nullptr) != 0)
        return 1;
    int status = 0;
    try {
        Echo echo;
        SkarnServerRuntime server(echo, limits);
        const int port = server.listen("127.0.0.1", std::atoi(argv[1]),
                                       document.empty() ? nullptr : document.c_str(), document.empty() ? 0 : 1);
        std::printf("%d\n", port);
        std::fflush(stdout);
        running = &server;
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        server.run();
        running = nullptr;
    } catch (VexThrowable& failure) {
        std::fprintf(stderr, "skarn_echo_server: %s\n", failure.toString().str().c_str());
        status = 1;
    }
    SkarnProcessTerminate(nullptr);
    return status;
}
