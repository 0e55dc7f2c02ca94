#ifndef SKARN_TEST_QSM_TEST_SERVER_H
#define SKARN_TEST_QSM_TEST_SERVER_H

#include "platform/crypto/VexCrypto.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback listener over the secure-socket layer that serves a number of
// connections in its own thread, negotiating TLS when its document says
// forceSSLStatus ON, and hands each accepted handle to `handler` (then closes
// it, unless the handler took it over and set it to null). Every wait is
// bounded: a connection that does not come within 10 seconds, or stop(),
// ends the serving. Failures of accept or negotiation are kept, as
// the layer's texts, in failures().
class QsmTestServer {
public:
    QsmTestServer(const std::string& document, std::function<void(QSM_HANDLE&)> handler, int connections = 1,
                  bool ipv6 = false);
    ~QsmTestServer();

    int port() const { return m_port; }
    // Waits for the serving thread to end.
    void join();
    // Stops waiting for further connections (a handler that runs finishes), then joins.
    void stop();
    std::vector<std::string> failures();

private:
    void serve(int connections);

    QSM_HANDLE m_listener = nullptr;
    int m_port = 0;
    std::function<void(QSM_HANDLE&)> m_handler;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::string> m_failures;
};

// "<sessionConfigDocument>" + inner + "</sessionConfigDocument>"
std::string sessionDocument(const std::string& inner);
// A listener's document: TLS forced, with this certificate and key, then `extra`.
std::string tlsListenerDocument(const std::string& cert, const std::string& key, const std::string& extra = "");
// A client's document: TLS forced, trusting the test CA, then `extra` (a later element wins).
std::string tlsClientDocument(const std::string& extra = "");

// Blocking helpers over a connected handle; false / short result on failure.
bool qsmSendAll(QSM_HANDLE h, const std::string& bytes);
// Reads until `n` bytes arrived or the stream ended or failed, at most `chunk`
// bytes a call; when a read would block, the handle must turn readable within
// 5 seconds (decrypted bytes left inside the TLS layer count as readable).
std::string qsmRecvExactly(QSM_HANDLE h, std::size_t n, std::size_t chunk = 65536);
// The handle's last error text (freed here).
std::string qsmLastError(QSM_HANDLE h);

#endif
