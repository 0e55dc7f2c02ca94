#include "platform/crypto/VexCrypto.h"

#include "platform/crypto/QsmSessionCache.h"
#include "platform/crypto/QsmSessionConfig.h"
#include "platform/crypto/QsmSocket.h"
#include "platform/crypto/QsmTlsContext.h"
#include "platform/crypto/QsmUrl.h"

#include <openssl/ssl.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

// Every handle the library has handed out and not yet closed. A call with a
// handle that is not here (null, closed, or never ours) answers QSM_E_INVALID
// instead of touching freed memory.

namespace {

std::atomic<int> g_open{0};
std::atomic<QSM_StatusHook> g_hook{nullptr};
std::atomic<void*> g_hookContext{nullptr};

// Every call looks its handle up; only open and close change the set: many
// threads look up at once without waiting on each other.
std::shared_mutex g_handlesLock;
std::unordered_set<QsmSocket*>& handles()
{
    static std::unordered_set<QsmSocket*> live;
    return live;
}

// The last failure of this thread on no particular handle (or on one that is gone).
thread_local std::string t_lastError;

QsmSocket* live(QSM_HANDLE handle)
{
    if (!handle)
        return nullptr;
    std::shared_lock<std::shared_mutex> guard(g_handlesLock);
    QsmSocket* s = static_cast<QsmSocket*>(handle);
    return handles().count(s) ? s : nullptr;
}

void adopt(QsmSocket* s)
{
    std::lock_guard<std::shared_mutex> guard(g_handlesLock);
    handles().insert(s);
}

void forget(QsmSocket* s)
{
    std::lock_guard<std::shared_mutex> guard(g_handlesLock);
    handles().erase(s);
}

int failNoHandle(int status, const std::string& text)
{
    t_lastError = text;
    return status;
}

int failOn(QsmSocket* s, int status, const std::string& text)
{
    t_lastError = text;
    return s ? s->fail(status, text) : status;
}

// Whatever a status-returning call left in a handle also becomes this
// thread's last error, so a caller that lost the handle can still ask.
int noted(QsmSocket* s, int status)
{
    if (status != QSM_S_OK && s)
        t_lastError = s->lastError();
    return status;
}

char* copyText(const std::string& text)
{
    char* p = static_cast<char*>(std::malloc(text.size() + 1));
    if (p)
        std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
}

void giveDetails(char** details, int status, const std::string& text)
{
    if (details)
        *details = status == QSM_S_OK ? nullptr : copyText(text);
}

// The test hook's answer for `call`, if it gives one.
bool hooked(const char* call, QSM_HANDLE handle, int* status)
{
    QSM_StatusHook hook = g_hook.load();
    if (!hook || !hook(g_hookContext.load(), call, handle, status))
        return false;
    if (*status != QSM_S_OK)
        failOn(live(handle), *status, std::string(call) + ": status " + std::to_string(*status) + " set by the test hook");
    return true;
}

std::string invalidHandle(const char* call) { return std::string(call) + ": not a valid handle"; }

}  // namespace

int VexCrypto::initialize(const char* /*interfaceName*/)
{
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    g_open.store(1);
    return QSM_S_OK;
}

void VexCrypto::terminate()
{
    g_open.store(0);
    QsmTlsContext::clear();
}

int VexCrypto::isOpen() { return g_open.load(); }

void VexCrypto::setStatusHook(QSM_StatusHook hook, void* context)
{
    g_hookContext.store(context);
    g_hook.store(hook);
}

int VexCrypto::QSM_Socket(QSM_HANDLE* handle, const char* sessionConfigDoc, char* /*reserved*/, char** details)
{
    return QSM_Socket(handle, sessionConfigDoc, AF_UNSPEC, -1, details);
}

int VexCrypto::QSM_Socket(QSM_HANDLE* handle, const char* sessionConfigDoc, int family, int forceSSL, char** details)
{
    if (details)
        *details = nullptr;
    int st;
    if (hooked("QSM_Socket", nullptr, &st)) {
        giveDetails(details, st, t_lastError);
        return st;
    }
    if (!handle) {
        st = failNoHandle(QSM_E_INVALID, "QSM_Socket: no place for the handle");
        giveDetails(details, st, t_lastError);
        return st;
    }
    *handle = nullptr;
    if (!isOpen()) {
        st = failNoHandle(QSM_E_NOT_OPEN, "QSM_Socket: the secure-socket library is not initialised");
        giveDetails(details, st, t_lastError);
        return st;
    }
    QsmSessionConfig::Own own;
    own.family = family == AF_INET    ? QsmSessionConfig::FamilyIPv4
                 : family == AF_INET6 ? QsmSessionConfig::FamilyIPv6
                                      : QsmSessionConfig::FamilyUnspecified;
    own.forceSSL = forceSSL;
    QsmSessionConfig config;
    std::string error;
    if (!config.parse(sessionConfigDoc, error, own)) {
        st = failNoHandle(QSM_E_CONFIG, "QSM_Socket: " + error);
        giveDetails(details, st, t_lastError);
        return st;
    }
    QsmSocket* s = new (std::nothrow) QsmSocket(config);
    if (!s) {
        st = failNoHandle(QSM_E_SYSTEM, "QSM_Socket: out of memory");
        giveDetails(details, st, t_lastError);
        return st;
    }
    adopt(s);
    *handle = s;
    return QSM_S_OK;
}

int VexCrypto::QSM_Connect(QSM_HANDLE handle, const sockaddr_storage* address, int length, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_Connect", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_FAILED, invalidHandle("QSM_Connect"));
    if (!address)
        return failOn(s, QSM_E_FAILED, "QSM_Connect: no address");
    return noted(s, s->connect("QSM_Connect", *address, length, s->config().forceSSL, std::string()));
}

int VexCrypto::QSM_Connect_Url(QSM_HANDLE handle, const char* url, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_Connect_Url", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_FAILED, invalidHandle("QSM_Connect_Url"));
    if (s->state() != QsmSocket::Idle)  // answers the state of a connection already made
        return noted(s, s->connect("QSM_Connect_Url", sockaddr_storage{}, 0, false, std::string()));
    QsmUrl target;
    std::string error;
    if (!target.parse(url, error))
        return failOn(s, QSM_E_FAILED, "QSM_Connect_Url: " + error);
    int family = s->config().family == QsmSessionConfig::FamilyIPv4   ? AF_INET
                 : s->config().family == QsmSessionConfig::FamilyIPv6 ? AF_INET6
                                                                       : AF_UNSPEC;
    sockaddr_storage address{};
    if (!target.resolve(family, address, error))
        return failOn(s, QSM_E_FAILED, "QSM_Connect_Url: " + error);
    return noted(s, s->connect("QSM_Connect_Url", address, sizeof address, s->config().forceSSL || target.isHttps(),
                               target.host));
}

int VexCrypto::QSM_EstablishSecure(QSM_HANDLE handle, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_EstablishSecure", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_EstablishSecure"));
    return noted(s, s->establishSecure());
}

int VexCrypto::QSM_Accept(QSM_HANDLE listener, QSM_HANDLE* accepted, sockaddr_storage* address, int* length,
                          char* /*reserved*/)
{
    int st;
    if (hooked("QSM_Accept", listener, &st))
        return st;
    QsmSocket* s = live(listener);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_Accept"));
    if (!accepted)
        return failOn(s, QSM_E_INVALID, "QSM_Accept: no place for the accepted handle");
    *accepted = nullptr;
    QsmSocket* conn = nullptr;
    st = s->accept(&conn, address, length);
    if (st == QSM_S_OK) {
        adopt(conn);
        *accepted = conn;
    }
    return noted(s, st);
}

int VexCrypto::QSM_Bind(QSM_HANDLE handle, const sockaddr_storage* address, int length, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_Bind", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_Bind"));
    if (!address)
        return failOn(s, QSM_E_INVALID, "QSM_Bind: no address");
    return noted(s, s->bind(*address, length));
}

int VexCrypto::QSM_Listen(QSM_HANDLE handle, int backlog, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_Listen", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_Listen"));
    return noted(s, s->listen(backlog));
}

int VexCrypto::QSM_GetSockName(QSM_HANDLE handle, sockaddr_storage* address, int* length, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_GetSockName", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_GetSockName"));
    if (!address || !length)
        return failOn(s, QSM_E_INVALID, "QSM_GetSockName: no place for the address");
    return noted(s, s->getSockName(address, length));
}

int VexCrypto::QSM_SetSockOpt(QSM_HANDLE handle, unsigned long option, const void* value, int length,
                              char* /*reserved*/)
{
    int st;
    if (hooked("QSM_SetSockOpt", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_SetSockOpt"));
    if (!value || length != static_cast<int>(sizeof(int)))
        return failOn(s, QSM_E_INVALID, "QSM_SetSockOpt: the value must be a 4-byte integer");
    int v;
    std::memcpy(&v, value, sizeof v);
    return noted(s, s->setOption(option, v));
}

int VexCrypto::QSM_GetSockOpt(QSM_HANDLE handle, unsigned long option, void* value, int* length, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_GetSockOpt", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_GetSockOpt"));
    if (!value || !length || *length < static_cast<int>(sizeof(int)))
        return failOn(s, QSM_E_INVALID, "QSM_GetSockOpt: the value must have room for a 4-byte integer");
    int v = 0;
    st = s->getOption(option, &v);
    if (st == QSM_S_OK) {
        std::memcpy(value, &v, sizeof v);
        *length = sizeof v;
    }
    return noted(s, st);
}

int VexCrypto::QSM_Send(QSM_HANDLE handle, const char* bytes, int length, int /*flags*/, int* sent, char* /*reserved*/)
{
    if (sent)
        *sent = 0;
    int st;
    if (hooked("QSM_Send", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_Send"));
    if (!bytes || length < 0 || !sent)
        return failOn(s, QSM_E_INVALID, "QSM_Send: no bytes or no place for the count");
    if (length == 0)
        return QSM_S_OK;
    return noted(s, s->send(bytes, length, sent));
}

int VexCrypto::QSM_Recv(QSM_HANDLE handle, char* bytes, int length, int /*flags*/, int* received, char* /*reserved*/)
{
    if (received)
        *received = 0;
    int st;
    if (hooked("QSM_Recv", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_Recv"));
    if (!bytes || length <= 0 || !received)
        return failOn(s, QSM_E_INVALID, "QSM_Recv: no room or no place for the count");
    return noted(s, s->recv(bytes, length, received));
}

int VexCrypto::QSM_Select(QSM_Handle_Set* readSet, QSM_Handle_Set* writeSet, QSM_Handle_Set* exceptSet,
                          const timeval* timeout, int* count, char** details)
{
    if (details)
        *details = nullptr;
    if (count)
        *count = 0;
    int st;
    QSM_HANDLE first = readSet && readSet->count ? readSet->handles[0]
                       : writeSet && writeSet->count ? writeSet->handles[0]
                                                     : nullptr;
    if (hooked("QSM_Select", first, &st)) {
        giveDetails(details, st, t_lastError);
        return st;
    }
    struct Entry {
        QSM_Handle_Set* set;
        std::size_t index;
        QsmSocket* socket;
        bool readyNow;
    };
    std::vector<Entry> entries;
    std::vector<pollfd> fds;
    QSM_Handle_Set* sets[3] = {readSet, writeSet, exceptSet};
    bool anyReadyNow = false;
    for (int k = 0; k < 3; ++k) {
        QSM_Handle_Set* set = sets[k];
        if (!set)
            continue;
        if (set->count > 64) {
            st = failNoHandle(QSM_E_INVALID, "QSM_Select: a handle set holds more than 64 handles");
            giveDetails(details, st, t_lastError);
            return st;
        }
        for (std::uint32_t i = 0; i < set->count; ++i) {
            QsmSocket* s = live(set->handles[i]);
            if (!s || s->fd() < 0) {
                st = failNoHandle(QSM_E_INVALID, invalidHandle("QSM_Select"));
                giveDetails(details, st, t_lastError);
                return st;
            }
            bool now = false;
            short events = k == 0 ? s->readInterest(now) : k == 1 ? POLLOUT : POLLPRI;
            entries.push_back({set, i, s, now});
            fds.push_back({s->fd(), events, 0});
            anyReadyNow = anyReadyNow || now;
        }
    }
    long long waitMs = -1;
    if (anyReadyNow)
        waitMs = 0;
    else if (timeout)
        waitMs = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
    const auto start = std::chrono::steady_clock::now();
    int n;
    for (;;) {
        long long left = waitMs;
        if (waitMs > 0) {
            left = waitMs - std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                   start).count();
            if (left < 0)
                left = 0;
        }
        n = ::poll(fds.data(), fds.size(), left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left));
        if (n >= 0 || errno != EINTR)
            break;
    }
    if (n < 0) {
        st = failNoHandle(QSM_E_SYSTEM, std::string("QSM_Select: poll() failed: ") + std::strerror(errno));
        for (const Entry& e : entries)
            e.socket->fail(st, t_lastError);
        giveDetails(details, st, t_lastError);
        return st;
    }
    // Keep the ready handles in their sets, in their order.
    std::uint32_t kept[3] = {0, 0, 0};
    int ready = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        int k = e.set == readSet ? 0 : e.set == writeSet ? 1 : 2;
        short want = k == 0 ? static_cast<short>(POLLIN | POLLHUP | POLLERR)
                     : k == 1 ? static_cast<short>(POLLOUT | POLLHUP | POLLERR)
                              : static_cast<short>(POLLPRI);
        if (e.readyNow || (fds[i].revents & want)) {
            e.set->handles[kept[k]++] = e.socket;
            ++ready;
        }
    }
    for (int k = 0; k < 3; ++k)
        if (sets[k])
            sets[k]->count = kept[k];
    if (count)
        *count = ready;
    return QSM_S_OK;
}

int VexCrypto::QSM_Poll(QSM_Pollfd* fds, int count, int milliseconds, char* /*reserved*/, char** details)
{
    if (details)
        *details = nullptr;
    int st;
    if (hooked("QSM_Poll", fds && count > 0 ? fds[0].handle : nullptr, &st)) {
        giveDetails(details, st, t_lastError);
        return st;
    }
    if (!fds || count <= 0 || count > 64) {
        st = failNoHandle(QSM_E_INVALID, "QSM_Poll: from 1 to 64 entries are needed");
        giveDetails(details, st, t_lastError);
        return st;
    }
    std::vector<pollfd> p(static_cast<std::size_t>(count));
    bool anyReadyNow = false;
    std::vector<bool> readyNow(p.size(), false);
    for (int i = 0; i < count; ++i) {
        fds[i].revents = 0;
        QsmSocket* s = live(fds[i].handle);
        if (!s || s->fd() < 0) {
            st = failNoHandle(QSM_E_INVALID, invalidHandle("QSM_Poll"));
            giveDetails(details, st, t_lastError);
            return st;
        }
        short events = 0;
        if (fds[i].events & QSM_POLL_READABLE) {
            bool now = false;
            events |= s->readInterest(now);
            readyNow[static_cast<std::size_t>(i)] = now;
            anyReadyNow = anyReadyNow || now;
        }
        if (fds[i].events & QSM_POLL_WRITABLE)
            events |= POLLOUT;
        p[static_cast<std::size_t>(i)] = {s->fd(), events, 0};
    }
    int n = ::poll(p.data(), p.size(), anyReadyNow ? 0 : milliseconds);
    if (n < 0) {
        if (errno == EINTR) {
            st = failNoHandle(QSM_E_INTERRUPTED, "QSM_Poll: the wait was interrupted");
        } else {
            st = failNoHandle(QSM_E_SYSTEM, std::string("QSM_Poll: poll() failed: ") + std::strerror(errno));
        }
        giveDetails(details, st, t_lastError);
        return st;
    }
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        const pollfd& r = p[static_cast<std::size_t>(i)];
        std::uint16_t out = 0;
        if ((r.revents & POLLIN) || readyNow[static_cast<std::size_t>(i)])
            out |= QSM_POLL_READ_NORMAL;
        if (r.revents & POLLOUT)
            out |= QSM_POLL_WRITABLE;
        if (r.revents & POLLERR)
            out |= QSM_POLL_ERROR;
        if (r.revents & POLLHUP)
            out |= QSM_POLL_HANGUP;
        if (r.revents & POLLNVAL)
            out |= QSM_POLL_INVALID;
        fds[i].revents = out;
        if (out)
            ++ready;
    }
    return ready ? QSM_S_OK : QSM_S_TIMEOUT;
}

int VexCrypto::QSM_SocketStatus(QSM_HANDLE handle, char* /*reserved*/)
{
    int st;
    if (hooked("QSM_SocketStatus", handle, &st))
        return st;
    QsmSocket* s = live(handle);
    if (!s)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_SocketStatus"));
    return noted(s, s->status());
}

int VexCrypto::QSM_GetCipherInfo(QSM_HANDLE handle, char* /*reserved*/, char** details)
{
    if (details)
        *details = nullptr;
    QsmSocket* s = live(handle);
    if (!s || !details)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_GetCipherInfo"));
    *details = copyText(s->cipherInfo());
    return QSM_S_OK;
}

int VexCrypto::QSM_IsSessionResumed(QSM_HANDLE handle, int* resumed, char* /*reserved*/)
{
    QsmSocket* s = live(handle);
    if (!s || !resumed)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_IsSessionResumed"));
    *resumed = s->resumed() ? 1 : 0;
    return QSM_S_OK;
}

int VexCrypto::QSM_GetDescriptor(QSM_HANDLE handle, int* fd, short* events, int* readyNow)
{
    QsmSocket* s = live(handle);
    if (!s || !fd || !events || !readyNow || s->fd() < 0)
        return failNoHandle(QSM_E_INVALID, invalidHandle("QSM_GetDescriptor"));
    bool now = false;
    *events = s->readInterest(now);
    *readyNow = now ? 1 : 0;
    *fd = s->fd();
    return QSM_S_OK;
}

void VexCrypto::setSessionCacheSize(int servers) { QsmSessionCache::setCapacity(servers); }

int VexCrypto::getSessionCacheSize() { return QsmSessionCache::capacity(); }

int VexCrypto::QSM_CloseHandle(QSM_HANDLE* handle, char* /*reserved*/, char** details)
{
    if (details)
        *details = nullptr;
    QsmSocket* s = handle ? live(*handle) : nullptr;
    // The hook may choose the status, but the handle is released all the same.
    int st = QSM_S_OK;
    bool byHook = hooked("QSM_CloseHandle", handle ? *handle : nullptr, &st);
    if (!s) {
        if (!byHook)
            st = failNoHandle(QSM_E_INVALID, invalidHandle("QSM_CloseHandle"));
        giveDetails(details, st, t_lastError);
        return st;
    }
    forget(s);
    delete s;
    *handle = nullptr;
    giveDetails(details, st, t_lastError);
    return st;
}

int VexCrypto::QSM_CryptoGetLastErrorDetails(QSM_HANDLE handle, char* /*reserved*/, char** details)
{
    if (!details)
        return QSM_E_INVALID;
    *details = nullptr;
    QsmSocket* s = live(handle);
    const std::string& text = s ? s->lastError() : t_lastError;
    if (!text.empty())
        *details = copyText(text);
    return QSM_S_OK;
}

void VexCrypto::QSM_CryptoFree(void* text) { std::free(text); }

VexCrypto* VexCryptoSharedFactory::getInstance()
{
    static VexCrypto instance;
    return &instance;
}
