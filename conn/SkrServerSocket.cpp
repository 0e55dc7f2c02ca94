#include "conn/SkrServerSocket.h"

#include "api/CryptoError.h"
#include "api/SkarnException.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexUnexpectedError.h"
#include "platform/crypto/QsmUrl.h"
#include "platform/crypto/VexSocketAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char kOpenFunction[] = "void SkrServerSocket::open (char* serverAddr, int nPort, char* sessionConfigDoc)";
const char kAcceptFunction[] = "SkarnSocket* SkrServerSocket::awaitCommunicationAttempt()";
const char kTimedAcceptFunction[] = "SkarnSocket* SkrServerSocket::awaitCommunicationAttempt (int nTimeout)";
const char kRootEnd[] = "</sessionConfigDocument>";
const char kSSLStart[] = "<forceSSLStatus>";
const char kSSLEnd[] = "</forceSSLStatus>";
const int kAddressLength = 128;
const int kBacklog = 20;
const int kRetries = 5;
const std::size_t kMaxPending = 63;  // with the listener, the 64 handles one poll takes

[[noreturn]] void refuseDocument(const char* why)
{
    SkarnException::raise(VEX_LOCATION, kOpenFunction, SkarnException::errSocket, {}, why);
}

// The documents of a server socket opened without one.
const char kDefaultSSL[] =
    "<sessionConfigDocument><serviceID>SkarnServerSocket</serviceID><forceSSLStatus>ON</forceSSLStatus>"
    "</sessionConfigDocument>";
const char kDefaultPlain[] =
    "<sessionConfigDocument><serviceID>SkarnServerSocket</serviceID><forceSSLStatus>OFF</forceSSLStatus>"
    "</sessionConfigDocument>";

char* documentOrDefault(char* sessionConfigDoc, int serverSSL)
{
    if (sessionConfigDoc && *sessionConfigDoc)
        return sessionConfigDoc;
    return const_cast<char*>(serverSSL == 1 ? kDefaultSSL : kDefaultPlain);
}

}  // namespace

SkrServerSocket::SkrServerSocket() : m_serverSSL(0) {}

SkrServerSocket::SkrServerSocket(int serverSSL) : m_serverSSL(serverSSL) {}

SkrServerSocket::~SkrServerSocket() { closePending(); }

void SkrServerSocket::closePending()
{
    for (Pending& p : m_pending)
        m_crypto->QSM_CloseHandle(&p.handle, nullptr, nullptr);
    m_pending.clear();
}

void SkrServerSocket::raiseCryptoError(const char* call, int result, const char* function)
{
    I18NString text;
    {
        CryptoError error(m_hQSMSocket, call, result);
        error.describe(text);
    }
    SkarnException::raise(VEX_LOCATION, function, SkarnException::errSocket, {}, text.c_str());
}

void SkrServerSocket::open(int nPort, char* sessionConfigDoc) { open(nullptr, nPort, sessionConfigDoc); }

void SkrServerSocket::open(char* serverAddr, int nPort, char* sessionConfigDoc)
{
    VexSocketAddress resolver("QSM_Crypto_Interface");
    if (!VexCrypto::isOpen())
        VexUnexpectedError(0, "cannot open Crypto lib").hurl(VEX_LOCATION, kOpenFunction, "VEX_THROW");

    sockaddr_storage address;
    std::memset(&address, 0xFF, sizeof address);
    if (nPort >= 0 && nPort <= 65535) {
        const unsigned short port = static_cast<unsigned short>(nPort);
        int count = 0;
        resolver.QSM_ResolveAddress(serverAddr, port, 1, &count);
        resolver.QSM_GetAddress(0, &address);
        if (address.ss_family == FAMILY_UNRESOLVED) {
            resolver.QSM_ResolveAddress(nullptr, port, 1, &count);
            resolver.QSM_GetAddress(0, &address);
        }
    }
    if (address.ss_family == FAMILY_UNRESOLVED)
        SkarnException::raise(VEX_LOCATION, kOpenFunction, SkarnException::errNoAddress,
                              {I18NString(""), I18NString(std::to_string(nPort))});

    // The server decides about encryption and the listener's family is its
    // address's, whatever the caller's document says; the document must still
    // be one.
    const std::string document = sessionConfigDoc ? sessionConfigDoc : "";
    const std::size_t sslStart = document.find(kSSLStart);
    if (sslStart != std::string::npos && document.find(kSSLEnd, sslStart) == std::string::npos)
        refuseDocument("the session configuration document has <forceSSLStatus> without </forceSSLStatus>");
    if (document.find(kRootEnd) == std::string::npos)
        refuseDocument("the session configuration document has no </sessionConfigDocument>");

    char* details = nullptr;
    const int created =
        m_crypto->QSM_Socket(&m_hQSMSocket, document.c_str(), address.ss_family, m_serverSSL ? 1 : 0, &details);
    if (created != QSM_S_OK) {
        const std::string text = details ? details : "";
        m_crypto->QSM_CryptoFree(details);
        m_hQSMSocket = nullptr;
        SkarnException::raise(VEX_LOCATION, kOpenFunction, SkarnException::errSocket, {}, text.c_str());
    }
    m_crypto->QSM_CryptoFree(details);
    m_open = 1;

    const int one = 1;
    int result = m_crypto->QSM_SetSockOpt(m_hQSMSocket, QSM_SO_REUSEADDR, &one, 4, nullptr);
    if (result != QSM_S_OK)
        raiseCryptoError("QSM_SetSockOpt", result, kOpenFunction);
    result = m_crypto->QSM_Bind(m_hQSMSocket, &address, kAddressLength, nullptr);
    if (result != QSM_S_OK)
        raiseCryptoError("QSM_Bind", result, kOpenFunction);
    m_listenOnPort = nPort;
    if (nPort == 0) {
        sockaddr_storage bound;
        int length = kAddressLength;
        result = m_crypto->QSM_GetSockName(m_hQSMSocket, &bound, &length, nullptr);
        if (result != QSM_S_OK)
            raiseCryptoError("QSM_GetSockName", result, kOpenFunction);
        m_listenOnPort = QsmUrl::portOf(bound);
    }
    result = m_crypto->QSM_Listen(m_hQSMSocket, kBacklog, nullptr);
    if (result != QSM_S_OK)
        raiseCryptoError("QSM_Listen", result, kOpenFunction);
}

SkarnSocket* SkrServerSocket::accept(const char* function)
{
    if (m_deferring) {
        // This accept negotiates on the listener: connections come out secured.
        const int off = 0;
        m_crypto->QSM_SetSockOpt(m_hQSMSocket, QSM_SO_DEFER_HANDSHAKE, &off, 4, nullptr);
        m_deferring = false;
    }
    int retries = kRetries;
    QSM_HANDLE accepted = nullptr;
    sockaddr_storage peer;
    for (;;) {
        int length = kAddressLength;
        std::memset(&peer, 0, sizeof peer);
        const int result = m_crypto->QSM_Accept(m_hQSMSocket, &accepted, &peer, &length, nullptr);
        if (result == QSM_E_NEGOTIATE) {
            int handshake;
            while ((handshake = m_crypto->QSM_EstablishSecure(m_hQSMSocket, nullptr)) == QSM_E_WOULD_BLOCK) {
                if (retries <= 0)
                    raiseCryptoError("QSM_EstablishSecure", handshake, function);
                --retries;
            }
            if (handshake != QSM_S_OK)
                raiseCryptoError("QSM_EstablishSecure", handshake, function);
            if (retries <= 0)
                raiseCryptoError("QSM_Accept", result, function);
            --retries;
            continue;
        }
        if (result != QSM_S_OK)
            raiseCryptoError("QSM_Accept", result, function);
        break;
    }
    if (!accepted)
        return nullptr;
    return wrapAccepted(accepted, peer, function);
}

SkarnSocket* SkrServerSocket::wrapAccepted(void* handle, const sockaddr_storage& peer, const char* function)
{
    try {
        return VEX_GUARDED_NEW(function, new SkrSocket(handle, QsmUrl::portOf(peer), peer));
    } catch (...) {
        m_crypto->QSM_CloseHandle(&handle, nullptr, nullptr);  // nobody else will
        throw;
    }
}

SkarnSocket* SkrServerSocket::stepHandshake(std::size_t i)
{
    void* handle = m_pending[i].handle;
    const int result = m_crypto->QSM_EstablishSecure(handle, nullptr);
    if (result == QSM_E_WOULD_BLOCK)
        return nullptr;
    const sockaddr_storage peer = m_pending[i].peer;
    m_pending.erase(m_pending.begin() + static_cast<std::ptrdiff_t>(i));
    if (result != QSM_S_OK) {
        I18NString text;
        {
            CryptoError error(handle, "QSM_EstablishSecure", result);
            error.describe(text);
        }
        m_crypto->QSM_CloseHandle(&handle, nullptr, nullptr);
        SkarnException::raise(VEX_LOCATION, kTimedAcceptFunction, SkarnException::errSocket, {}, text.c_str());
    }
    const int blocking = 0;  // the host reads it as any accepted connection
    m_crypto->QSM_SetSockOpt(handle, QSM_FIONBIO, &blocking, 4, nullptr);
    return wrapAccepted(handle, peer, kTimedAcceptFunction);
}

SkarnSocket* SkrServerSocket::acceptNegotiating(int seconds)
{
    if (!m_deferring) {
        const int on = 1;
        const int result = m_crypto->QSM_SetSockOpt(m_hQSMSocket, QSM_SO_DEFER_HANDSHAKE, &on, 4, nullptr);
        if (result != QSM_S_OK)
            raiseCryptoError("QSM_SetSockOpt", result, kTimedAcceptFunction);
        m_deferring = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    QSM_Pollfd fds[kMaxPending + 1];
    for (;;) {
        // Each pending handshake takes a step on every turn, so that one past
        // its own time-out ends even while its client stays silent.
        for (std::size_t i = m_pending.size(); i-- > 0;)
            if (SkarnSocket* secured = stepHandshake(i))
                return secured;
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return nullptr;
        std::size_t count = 0;
        if (m_pending.size() < kMaxPending)
            fds[count++] = QSM_Pollfd{m_hQSMSocket, QSM_POLL_READABLE, 0};
        for (const Pending& p : m_pending)
            fds[count++] = QSM_Pollfd{p.handle, QSM_POLL_READABLE, 0};
        char* details = nullptr;
        const int polled = m_crypto->QSM_Poll(fds, static_cast<int>(count), static_cast<int>(left < 1000 ? left : 1000),
                                              nullptr, &details);
        m_crypto->QSM_CryptoFree(details);
        if (polled == QSM_E_INTERRUPTED)
            return nullptr;
        if (polled != QSM_S_OK && polled != QSM_S_TIMEOUT)
            raiseCryptoError("QSM_Poll", polled, kTimedAcceptFunction);
        if (polled != QSM_S_OK || fds[0].handle != m_hQSMSocket || !(fds[0].revents & QSM_POLL_READABLE))
            continue;
        QSM_HANDLE accepted = nullptr;
        sockaddr_storage peer{};
        int length = kAddressLength;
        const int result = m_crypto->QSM_Accept(m_hQSMSocket, &accepted, &peer, &length, nullptr);
        if (result != QSM_S_OK)
            raiseCryptoError("QSM_Accept", result, kTimedAcceptFunction);
        const int on = 1;
        m_crypto->QSM_SetSockOpt(accepted, QSM_FIONBIO, &on, 4, nullptr);
        m_pending.push_back(Pending{accepted, peer});
    }
}

SkarnSocket* SkrServerSocket::awaitCommunicationAttempt() { return accept(kAcceptFunction); }

SkarnSocket* SkrServerSocket::awaitCommunicationAttempt(int nTimeout)
{
    if (nTimeout == 0)
        return awaitCommunicationAttempt();
    if (m_serverSSL)
        return acceptNegotiating(nTimeout);
    QSM_Pollfd pollfd{m_hQSMSocket, QSM_POLL_READABLE, 0};
    char* errorDocument = nullptr;
    const int result = m_crypto->QSM_Poll(&pollfd, 1, nTimeout * 1000, nullptr, &errorDocument);
    std::string errorText;
    if (result != QSM_S_OK) {
        errorText = errorDocument ? errorDocument : "";
        m_crypto->QSM_CryptoFree(errorDocument);
        errorDocument = nullptr;
    }
    m_crypto->QSM_CryptoFree(errorDocument);
    if (result == QSM_S_TIMEOUT || result == QSM_E_INTERRUPTED)
        return nullptr;
    if (result == QSM_S_OK && !(pollfd.revents & QSM_POLL_ERROR))
        return accept(kTimedAcceptFunction);
    // A long error text is cut at the end of the 8192-byte area.
    char function[8192];
    std::snprintf(function, sizeof function, "QSM_Poll=0x%x revents=0x%4.4hx %s, err_doc=%s",
                  static_cast<unsigned>(result), pollfd.revents, kTimedAcceptFunction, errorText.c_str());
    SkarnException::raise(VEX_LOCATION, function, SkarnException::errSocket, {}, errorText.c_str());
}

void SkrServerSocket::release()
{
    closePending();
    try {
        Close();
    } catch (...) {
        delete this;  // the handle is released by Close whatever it reports
        throw;
    }
    delete this;
}

// The exported factory of server sockets is defined with what it makes.
SkarnServerSocket* SkarnServerSocket::getServerSocket(int nPort, char* sessionConfigDoc, int, int serverSSL)
{
    static const char kFunction[] = "SkarnServerSocket::getServerSocket(2)";
    return VEX_GUARDED(kFunction, {
        std::unique_ptr<SkrServerSocket> server(new SkrServerSocket(serverSSL));
        static_cast<SkarnServerSocket&>(*server).open(nPort, documentOrDefault(sessionConfigDoc, serverSSL));
        return static_cast<SkarnServerSocket*>(server.release());
    });
}

SkarnServerSocket* SkarnServerSocket::getServerSocket(char* serverAddr, int nPort, char* sessionConfigDoc, int,
                                                      int serverSSL)
{
    static const char kFunction[] = "SkarnServerSocket::getServerSocket(3)";
    return VEX_GUARDED(kFunction, {
        std::unique_ptr<SkrServerSocket> server(new SkrServerSocket(serverSSL));
        static_cast<SkarnServerSocket&>(*server).open(serverAddr, nPort,
                                                      documentOrDefault(sessionConfigDoc, serverSSL));
        return static_cast<SkarnServerSocket*>(server.release());
    });
}
