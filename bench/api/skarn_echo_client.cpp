// Skarn echo peer, the client: THREADS threads, each making N exchanges through the
// public API as a host does (getSession, doRequest with a DOM envelope, release: the
// factory's pool keeps the connection between exchanges), then prints the rate and the
// process's CPU time per exchange. Every answer is checked.
// Usage: skarn_echo_client URL [N] [BYTES] [THREADS]
//   URL      http://127.0.0.1:PORT/ or https://127.0.0.1:PORT/ (TLS, the server not verified)
//   N        exchanges per thread (default 10000)
//   BYTES    length of the string sent (default 783, as the gSOAP peer's client)
// A server that answers "Connection: close" makes every exchange a new connection; over
// TLS the toolkit then resumes its last session with that server.
#include "EchoEnvelope.h"
#include "EchoLoad.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<long> failures{0};

void run(Skarn& factory, std::string url, const char* options, long n, const std::string& text)
{
    std::unique_ptr<VexIDOM_Document> request(echoEnvelope("ns:echoString", "in", text));
    VexIDOM_Element envelope = request->getDocumentElement();
    VexIDOM_DOMImplementation& dom = VexIDOM_DOMImplementation::getImplementation();
    std::string document(options);
    for (long i = 0; i < n; ++i) {
        SkarnSession* session = nullptr;
        try {
            session = factory.getSession(&url[0], &document[0], 0);
            std::unique_ptr<VexIDOM_Document> response(dom.createDocument(nullptr, "response"));
            VexIDOM_Element holder = response->getDocumentElement();
            session->doRequest(envelope, holder);
            if (holder.getTextContent().str() != text) {
                std::fprintf(stderr, "exchange %ld: answer differs from the request\n", i);
                ++failures;
            }
        } catch (VexThrowable& failure) {
            std::fprintf(stderr, "exchange %ld failed: %s\n", i, failure.toString().str().c_str());
            ++failures;
        }
        if (session)
            session->release();
        if (failures.load())
            return;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s URL [N] [BYTES] [THREADS]\n", argv[0]);
        return 2;
    }
    const std::string url = argv[1];
    const long n = argc > 2 ? std::atol(argv[2]) : 10000;
    const long bytes = argc > 3 ? std::atol(argv[3]) : 783;
    const int threads = argc > 4 ? std::atoi(argv[4]) : 1;
    if (n <= 0 || bytes < 0 || threads <= 0) {
        std::fprintf(stderr, "N and THREADS must be positive and BYTES not negative\n");
        return 2;
    }
    const std::string text = echoText(bytes);
    const bool tls = url.compare(0, 6, "https:") == 0;
    const char* options = tls ? "<sessionConfigDocument><verifyPeer>OFF</verifyPeer></sessionConfigDocument>"
                              : "<sessionConfigDocument></sessionConfigDocument>";
    if (SkarnProcessInitialize(nullptr) != 0)
        return 1;
    {
        std::unique_ptr<Skarn> factory(Skarn::getSessionFactory());
        if (!tls)
            factory->setProperty("non-SSL-sockets", 1);
        runClients(threads, n, [&] { run(*factory, url, options, n, text); });
    }
    SkarnProcessTerminate(nullptr);
    return failures.load() ? 3 : 0;
}
