#ifndef QSM_SOCKET_H
#define QSM_SOCKET_H

#include "platform/crypto/QsmSessionConfig.h"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include <string>
#include <utility>
#include <vector>

// The object behind a QSM_HANDLE (internal to the secure-socket layer): one
// socket descriptor and, once TLS is negotiated, its OpenSSL connection.
//
// A client handle goes Idle -> (connect) -> Connected, or Negotiating when the
// connection is to be TLS (forceSSLStatus ON, or an "https" URL), then
// Secured after the handshake. A failed handshake leaves it Failed: its
// descriptor is released at once and every later connect answers the final
// failure with the reason kept. A listener is Listening; with forceSSLStatus
// ON it parks each accepted connection (Negotiating) until the handshake on it
// has run, then hands it out Secured. A client's TLS connection offers the
// session of an earlier connection with the same key (QsmSessionCache.h).
//
// Each operation returns a QSM_ status; a failure also leaves its text, which
// names the call and the reason (OpenSSL's included), in lastError.
class QsmSocket {
public:
    enum State { Idle, Connected, Negotiating, Secured, Failed, Listening };
    enum Role { Unknown, Client, Listener, Accepted };

    explicit QsmSocket(const QsmSessionConfig& config);
    ~QsmSocket();
    QsmSocket(const QsmSocket&) = delete;
    QsmSocket& operator=(const QsmSocket&) = delete;

    int connect(const char* call, const sockaddr_storage& address, int length, bool tls, const std::string& host);
    int establishSecure();
    int accept(QsmSocket** accepted, sockaddr_storage* address, int* length);
    int bind(const sockaddr_storage& address, int length);
    int listen(int backlog);
    int getSockName(sockaddr_storage* address, int* length);
    int setOption(unsigned long option, int value);
    int getOption(unsigned long option, int* value);
    int send(const char* bytes, int length, int* sent);
    int recv(char* bytes, int length, int* received);
    int status();
    std::string cipherInfo() const;
    // Whether the handshake of this secured connection resumed an earlier session.
    bool resumed() const;

    // poll() events this handle needs to be ready for reading; true in
    // `readyNow` when it is readable without waiting (TLS bytes already
    // decrypted, or a secured connection parked on a listener).
    short readInterest(bool& readyNow) const;

    int fd() const { return m_fd; }
    State state() const { return m_state; }
    bool isTls() const { return m_ssl != nullptr; }
    const QsmSessionConfig& config() const { return m_config; }

    // Records a failure text and returns `status`.
    int fail(int status, const std::string& text);
    const std::string& lastError() const { return m_lastError; }

private:
    int ensureSocket(int family, const char* call);
    int makeTls(const char* call, bool server, const std::string& host);
    int handshakeStep(const char* call);
    int runHandshake(const char* call);
    int handshakeTimedOut(const char* call);
    std::string tlsFailure(int sslError, int sysErr) const;
    void dropConnection();
    void setBlocking(bool blocking);

    QsmSessionConfig m_config;
    int m_fd = -1;
    int m_family = 0;
    SSL* m_ssl = nullptr;
    SSL_CTX* m_serverCtx = nullptr;  // a TLS listener's context
    State m_state = Idle;
    Role m_role = Unknown;
    bool m_nonBlocking = false;
    bool m_tlsBroken = false;  // a fatal TLS error: no close_notify may be sent
    bool m_deferHandshake = false;  // listener: TLS connections handed out before their handshake
    bool m_wantWrite = false;  // the last TLS step waits for writability
    bool m_sessionOffered = false;  // client: a kept session was offered (QsmSessionCache)
    long long m_deadline = 0;  // non-blocking handshake: when it must be done (ms)
    sockaddr_storage m_peer{};
    QsmSocket* m_parked = nullptr;  // listener: the accepted connection being negotiated
    std::vector<std::pair<unsigned long, int>> m_pendingOptions;  // set before the descriptor exists
    std::string m_lastError;
};

#endif
