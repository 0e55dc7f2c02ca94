#include "support/QsmTestServer.h"

#include "support/LoopbackPeer.h"
#include "support/TestCertificates.h"

#include <arpa/inet.h>

#include <algorithm>

std::string sessionDocument(const std::string& inner)
{
    return "<sessionConfigDocument>" + inner + "</sessionConfigDocument>";
}

std::string tlsListenerDocument(const std::string& cert, const std::string& key, const std::string& extra)
{
    return sessionDocument("<serviceID>test</serviceID><forceSSLStatus>ON</forceSSLStatus><certificateFile>" + cert +
                           "</certificateFile><privateKeyFile>" + key + "</privateKeyFile>" + extra);
}

std::string tlsClientDocument(const std::string& extra)
{
    return sessionDocument("<forceSSLStatus>ON</forceSSLStatus><caFile>" + TestCertificates::get().caFile +
                           "</caFile>" + extra);
}

std::string qsmLastError(QSM_HANDLE h)
{
    VexCrypto* c = VexCryptoSharedFactory::getInstance();
    char* details = nullptr;
    c->QSM_CryptoGetLastErrorDetails(h, nullptr, &details);
    std::string text = details ? details : "";
    c->QSM_CryptoFree(details);
    return text;
}

// Waits up to 5 seconds for the handle to turn readable or writable.
static bool ready(QSM_HANDLE h, bool forWrite)
{
    QSM_Handle_Set set{1, {h}};
    timeval tv{5, 0};
    int n = 0;
    char* d = nullptr;
    VexCryptoSharedFactory::getInstance()->QSM_Select(forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv,
                                                      &n, &d);
    VexCryptoSharedFactory::getInstance()->QSM_CryptoFree(d);
    return n != 0;
}

bool qsmSendAll(QSM_HANDLE h, const std::string& bytes)
{
    for (std::size_t off = 0; off < bytes.size();) {
        int sent = 0;
        int st = VexCryptoSharedFactory::getInstance()->QSM_Send(h, bytes.data() + off, static_cast<int>(bytes.size() - off),
                                                                 0, &sent, nullptr);
        if (st == QSM_E_WOULD_BLOCK && ready(h, true))
            continue;
        if (st != QSM_S_OK)
            return false;
        off += static_cast<std::size_t>(sent);
    }
    return true;
}

std::string qsmRecvExactly(QSM_HANDLE h, std::size_t n, std::size_t chunk)
{
    std::string out;
    std::vector<char> buf(chunk);
    while (out.size() < n) {
        int got = 0;
        std::size_t want = std::min(n - out.size(), buf.size());
        int st = VexCryptoSharedFactory::getInstance()->QSM_Recv(h, buf.data(), static_cast<int>(want), 0, &got, nullptr);
        if (st == QSM_E_WOULD_BLOCK && ready(h, false))
            continue;
        if (st != QSM_S_OK)
            break;
        out.append(buf.data(), static_cast<std::size_t>(got));
    }
    return out;
}

QsmTestServer::QsmTestServer(const std::string& document, std::function<void(QSM_HANDLE&)> handler, int connections,
                             bool ipv6)
    : m_handler(std::move(handler))
{
    VexCrypto* c = VexCryptoSharedFactory::getInstance();
    char* details = nullptr;
    std::string doc = document;
    std::size_t end = doc.rfind("</sessionConfigDocument>");
    if (end != std::string::npos)
        doc.insert(end, ipv6 ? "<protocolFamily>IPv6</protocolFamily>" : "<protocolFamily>IPv4</protocolFamily>");
    if (c->QSM_Socket(&m_listener, doc.c_str(), nullptr, &details) != QSM_S_OK) {
        m_failures.push_back(std::string("QSM_Socket: ") + (details ? details : ""));
        c->QSM_CryptoFree(details);
        return;
    }
    sockaddr_storage a = loopbackAddress(0, ipv6);
    int one = 1;
    int len = sizeof a;
    if (c->QSM_SetSockOpt(m_listener, QSM_SO_REUSEADDR, &one, 4, nullptr) != QSM_S_OK ||
        c->QSM_Bind(m_listener, &a, 128, nullptr) != QSM_S_OK ||
        c->QSM_GetSockName(m_listener, &a, &len, nullptr) != QSM_S_OK ||
        c->QSM_Listen(m_listener, 20, nullptr) != QSM_S_OK) {
        m_failures.push_back(qsmLastError(m_listener));
        return;
    }
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    m_thread = std::thread([this, connections] { serve(connections); });
}

void QsmTestServer::serve(int connections)
{
    VexCrypto* c = VexCryptoSharedFactory::getInstance();
    for (int i = 0; i < connections; ++i) {
        int st = QSM_S_TIMEOUT;
        for (int slice = 0; slice < 100 && st == QSM_S_TIMEOUT && !m_stop.load(); ++slice) {
            QSM_Pollfd p{m_listener, QSM_POLL_READABLE, 0};
            char* d = nullptr;
            st = c->QSM_Poll(&p, 1, 100, nullptr, &d);
            c->QSM_CryptoFree(d);
        }
        if (m_stop.load())
            return;
        if (st != QSM_S_OK) {
            std::lock_guard<std::mutex> g(m_lock);
            m_failures.push_back("no connection came");
            return;
        }
        QSM_HANDLE h = nullptr;
        sockaddr_storage peer{};
        int len = sizeof peer;
        st = c->QSM_Accept(m_listener, &h, &peer, &len, nullptr);
        if (st == QSM_E_NEGOTIATE) {
            st = c->QSM_EstablishSecure(m_listener, nullptr);
            if (st == QSM_S_OK)
                st = c->QSM_Accept(m_listener, &h, &peer, &len, nullptr);
        }
        if (st != QSM_S_OK) {
            std::lock_guard<std::mutex> g(m_lock);
            m_failures.push_back(qsmLastError(m_listener));
            continue;
        }
        m_handler(h);
        if (h) {
            char* details = nullptr;
            c->QSM_CloseHandle(&h, nullptr, &details);
            c->QSM_CryptoFree(details);
        }
    }
}

void QsmTestServer::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::string> QsmTestServer::failures()
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_failures;
}

void QsmTestServer::stop()
{
    m_stop.store(true);
    join();
}

QsmTestServer::~QsmTestServer()
{
    stop();
    if (m_listener) {
        char* details = nullptr;
        VexCryptoSharedFactory::getInstance()->QSM_CloseHandle(&m_listener, nullptr, &details);
        VexCryptoSharedFactory::getInstance()->QSM_CryptoFree(details);
    }
}
