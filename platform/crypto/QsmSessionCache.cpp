#include "platform/crypto/QsmSessionCache.h"

#include <ctime>
#include <iterator>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

struct Entry {
    std::string key;
    std::vector<SSL_SESSION*> sessions;  // newest first, one reference each
};
using Lru = std::list<Entry>;  // most recently used first

std::mutex g_lock;
int g_capacity = QsmSessionCache::DEFAULT_KEYS;
int g_count = 0;  // sessions over all entries

// Never destroyed: a host may stop the library from an exit handler that runs
// after the static objects of this unit would have been destroyed.
Lru& lru()
{
    static auto* list = new Lru;
    return *list;
}
std::unordered_map<std::string, Lru::iterator>& index()
{
    static auto* map = new std::unordered_map<std::string, Lru::iterator>;
    return *map;
}

void freeKey(void*, void* key, CRYPTO_EX_DATA*, int, long, void*) { delete static_cast<std::string*>(key); }

// The slot of a connection's key in its SSL object; the key goes with it.
int keySlot()
{
    static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, freeKey);
    return slot;
}

const std::string* filedKey(const SSL* ssl) { return static_cast<const std::string*>(SSL_get_ex_data(ssl, keySlot())); }

bool usable(const SSL_SESSION* s)
{
    return SSL_SESSION_is_resumable(s) && SSL_SESSION_get_time(s) + SSL_SESSION_get_timeout(s) > std::time(nullptr);
}

// The functions below run under g_lock.

void drop(Lru::iterator at)
{
    for (SSL_SESSION* s : at->sessions)
        SSL_SESSION_free(s);
    g_count -= static_cast<int>(at->sessions.size());
    index().erase(at->key);
    lru().erase(at);
}

void fit()
{
    while (!lru().empty() && static_cast<int>(lru().size()) > g_capacity)
        drop(std::prev(lru().end()));
}

// The entry of `key`, now the most recently used; null when there is none and `make` is false.
Entry* find(const std::string& key, bool make)
{
    auto it = index().find(key);
    if (it != index().end()) {
        lru().splice(lru().begin(), lru(), it->second);
        return &lru().front();
    }
    if (!make)
        return nullptr;
    lru().push_front(Entry{key, {}});
    index().emplace(key, lru().begin());
    fit();
    return lru().empty() ? nullptr : &lru().front();
}

// Files a session (its reference passes to the cache) as the key's newest.
void push(const std::string& key, SSL_SESSION* session)
{
    Entry* e = g_capacity > 0 ? find(key, true) : nullptr;
    if (!e) {
        SSL_SESSION_free(session);
        return;
    }
    for (auto it = e->sessions.begin(); it != e->sessions.end(); ++it)
        if (*it == session) {
            e->sessions.erase(it);
            SSL_SESSION_free(session);  // the one filed keeps its reference
            --g_count;
            break;
        }
    e->sessions.insert(e->sessions.begin(), session);
    ++g_count;
    if (static_cast<int>(e->sessions.size()) > QsmSessionCache::SESSIONS_PER_KEY) {
        SSL_SESSION_free(e->sessions.back());
        e->sessions.pop_back();
        --g_count;
    }
}

int newSession(SSL* ssl, SSL_SESSION* session)
{
    const std::string* key = filedKey(ssl);
    if (!key || !usable(session))
        return 0;  // OpenSSL keeps its reference
    std::lock_guard<std::mutex> guard(g_lock);
    push(*key, session);
    return 1;
}

}  // namespace

std::string QsmSessionCache::keyOf(const QsmSessionConfig& config, bool verifies, const std::string& address,
                                   const std::string& host, const std::string& verifiedName)
{
    // The server as reached and as verified, then the document's trust
    // settings, as the connection pool compares them too.
    std::string key;
    for (const std::string* field : {&address, &host, &verifiedName}) {
        key += *field;
        key += '\0';
    }
    key += config.trustText();
    key += verifies ? 'V' : '-';
    return key;
}

void QsmSessionCache::enable(SSL_CTX* ctx)
{
    // OpenSSL's own client store stays off: sessions are filed here by key.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &newSession);
}

bool QsmSessionCache::offer(SSL* ssl, const std::string& key)
{
    std::string* own = new std::string(key);
    if (SSL_set_ex_data(ssl, keySlot(), own) != 1) {
        delete own;
        return false;
    }
    SSL_SESSION* session = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        Entry* e = find(key, false);
        while (e && !e->sessions.empty() && !session) {
            SSL_SESSION* s = e->sessions.front();
            e->sessions.erase(e->sessions.begin());
            --g_count;
            if (usable(s))
                session = s;
            else
                SSL_SESSION_free(s);
        }
    }
    if (!session)
        return false;
    const bool set = SSL_set_session(ssl, session) == 1;  // the connection takes its own reference
    SSL_SESSION_free(session);
    return set;
}

void QsmSessionCache::handshakeDone(SSL* ssl, bool offered)
{
    const std::string* key = filedKey(ssl);
    if (!offered || !key)
        return;
    if (SSL_session_reused(ssl)) {
        // A TLS 1.2 session serves again; TLS 1.3 sends fresh tickets instead.
        if (SSL_version(ssl) < TLS1_3_VERSION) {
            SSL_SESSION* s = SSL_get1_session(ssl);
            if (s && usable(s)) {
                std::lock_guard<std::mutex> guard(g_lock);
                push(*key, s);
            } else if (s) {
                SSL_SESSION_free(s);
            }
        }
        return;
    }
    // The server refused the session: it no longer knows the older ones either.
    // Kept: what this connection's full handshake filed already (TLS 1.2).
    const SSL_SESSION* current = SSL_get0_session(ssl);
    std::lock_guard<std::mutex> guard(g_lock);
    Entry* e = find(*key, false);
    if (!e)
        return;
    for (auto it = e->sessions.begin(); it != e->sessions.end();) {
        if (*it == current) {
            ++it;
            continue;
        }
        SSL_SESSION_free(*it);
        it = e->sessions.erase(it);
        --g_count;
    }
}

void QsmSessionCache::handshakeFailed(SSL* ssl)
{
    const std::string* key = ssl ? filedKey(ssl) : nullptr;
    if (!key)
        return;
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = index().find(*key);
    if (it != index().end())
        drop(it->second);
}

void QsmSessionCache::setCapacity(int keys)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_capacity = keys < 0 ? 0 : keys;
    fit();
}

int QsmSessionCache::capacity()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_capacity;
}

int QsmSessionCache::size()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_count;
}

void QsmSessionCache::clear()
{
    std::lock_guard<std::mutex> guard(g_lock);
    while (!lru().empty())
        drop(lru().begin());
}
