#include "conn/SkrConnectionPool.h"

#include "conn/SkrConnectionPoolFactory.h"
#include "conn/SkrConnectionProfile.h"
#include "net/SkarnHost.h"
#include "net/SkarnSocket.h"
#include "platform/core/VexFmDir.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexHighResolutionTime.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexThreadGuard.h"
#include "platform/core/VexUrl.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/dom/VexIDOM_Parser.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// The spelling of the standard namespace in assertion texts.
#define CSTD_STD_NAME std

namespace {

const char kConfigPath[] = "../configuration/Skarn_Config.xml";
const char kForceNew[] = "forceNew";
const std::size_t kForceNewLength = sizeof kForceNew - 1;

// The element's text as a number; false when the element is missing or its
// text is empty or only white space. atol's value is kept within 32 bits.
bool configNumber(const VexIDOM_Document& doc, const char* name, int& value)
{
    const I18NString text = VexIDOM_Helper::getElementText(VexIDOM_Helper::findFirstElement(doc, name));
    const char* p = text.c_str();
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (!*p)
        return false;
    const long n = std::atol(p);
    value = n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
    return true;
}

}  // namespace

// The target of a host-and-port request: resolved on first use only, so a
// request served from the idle list never resolves its host.
class SkrConnectionPool::HostRecord {
public:
    explicit HostRecord(const char* host) : m_host(host ? host : "")
    {
        std::memset(&m_address, 0xFF, sizeof m_address);
    }

    sockaddr_storage address()
    {
        if (m_address.ss_family > 65534)
            m_address = SkarnHost::getIPAddress(m_host.c_str());
        return m_address;
    }

private:
    std::string m_host;
    sockaddr_storage m_address;
};

namespace {

// Where a socket's release() hands a reusable socket: the pool of the moment
// (made again after destroyInstance, as any request would).
void giveBackToPool(SkarnSocket* socket)
{
    SkarnConnectionPool* pool;
    try {
        pool = SkrConnectionPoolFactory::getInstance();
    } catch (...) {
        delete socket;  // no pool to take it: the caller's ownership ends all the same
        throw;
    }
    pool->returnSocket(socket);
}

}  // namespace

SkrConnectionPool::SkrConnectionPool()
{
    readConfiguration();
    SkarnSocket::setGiveBack(&giveBackToPool);
}

SkrConnectionPool::~SkrConnectionPool()
{
    for (auto& entry : m_index) {
        for (SkarnSocket* socket : entry.second)
            delete socket;  // its destructor closes the connection
        entry.second.clear();
    }
    m_index.clear();
}

void SkrConnectionPool::readConfiguration()
{
    int noDelay = 1;
    const std::string path = VexFmDir::resolveEffectivePath(kConfigPath);
    if (VexFmDir::exists(path.c_str(), VexFmDir::FILE_KIND)) {
        std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument());
        VexIDOM_Parser parser(0);
        if (parser.parse(path.c_str(), *doc) == 1) {
            configNumber(*doc, "SKARN_CONNECTION_TIMEOUT", m_connectionTimeout);
            configNumber(*doc, "SKARN_SOCKET_TCP_NODELAY", noDelay);
        }
    }
    skarnTcpNoDelay.store(noDelay);
}

std::string SkrConnectionPool::urlKey(const VexUrl& url)
{
    const CSTD_STD_NAME::string::size_type pos1 = url.keyBegin, pos2 = url.keyEnd;
    VEX_ASSERT(pos1 != CSTD_STD_NAME::string::npos);
    VEX_ASSERT(pos2 > pos1);
    return url.key();
}

std::string SkrConnectionPool::hostPortKey(const char* host, int port)
{
    VEX_ASSERT(port > 0 && port < 65536);
    char number[16];
    std::snprintf(number, sizeof number, "%d", port);
    return std::string(host ? host : "") + ":" + number;
}

const char* SkrConnectionPool::forcedOptions(const char* options)
{
    if (options && std::strncmp(options, kForceNew, kForceNewLength) == 0)
        return options + kForceNewLength;
    return nullptr;
}

SkarnSocket* SkrConnectionPool::createSocket(int secure)
{
    SkarnSocket* socket = SkarnSocket::getSocket(secure, 0);
    socket->markReusable();
    return socket;
}

bool SkrConnectionPool::isHttps(const char* url)
{
    return VexUrl::split(url).isHttps();
}

SkarnSocket* SkrConnectionPool::openConnection(int secure, const char* url, const char* options, std::string key)
{
    const SkrConnectionProfile& profile = SkrConnectionProfile::of(secure, isHttps(url), options);
    SkarnSocket* socket = createSocket(secure);
    try {
        socket->setPoolKey(std::move(key));
        profile.applyTo(*socket);
        socket->Open(url, options);
    } catch (...) {
        delete socket;  // never connected: nothing to give back
        throw;
    }
    return socket;
}

SkarnSocket* SkrConnectionPool::openConnection(int secure, int port, sockaddr_storage address, const char* options,
                                               std::string key)
{
    const SkrConnectionProfile& profile = SkrConnectionProfile::of(secure, false, options);
    SkarnSocket* socket = createSocket(secure);
    try {
        socket->setPoolKey(std::move(key));
        profile.applyTo(*socket);
        socket->Open(port, address, options);
    } catch (...) {
        delete socket;
        throw;
    }
    return socket;
}

SkarnSocket* SkrConnectionPool::findIdleSocket(std::string key) { return takeIdle(key, nullptr); }

SkarnSocket* SkrConnectionPool::takeIdle(const std::string& key, const std::string* kind)
{
    VexThreadGuard guard(m_lock);
    auto entry = m_index.find(key);
    if (entry == m_index.end())
        return nullptr;
    std::list<SkarnSocket*>& idle = entry->second;
    const unsigned long long limit = static_cast<unsigned int>(m_connectionTimeout);
    for (auto it = idle.begin(); it != idle.end();) {
        SkarnSocket* socket = *it;
        if (kind && socket->getPoolKind() != *kind) {
            ++it;  // another transport or trust: kept for requests of its own kind
            continue;
        }
        it = idle.erase(it);
        const unsigned long long now = VexHighResolutionTime::getLocalTime();
        const unsigned long long stamp = socket->getTimestamp();
        if (stamp <= now && now - stamp < limit && socket->isAlive() == 1)
            return socket;
        delete socket;
    }
    return nullptr;
}

SkarnSocket* SkrConnectionPool::takeIdleFor(const std::string& key, int secure, bool https, const char* options)
{
    const SkrConnectionProfile& profile = SkrConnectionProfile::of(secure, https, options);
    SkarnSocket* socket = takeIdle(key, &profile.kind());
    if (socket)
        socket->setLimits(profile.limits());
    return socket;
}

SkarnSocket* SkrConnectionPool::getSocketConnection(int secure, const char* url, const char* options)
{
    // One split gives the key and the scheme: this runs for every session.
    const VexUrl split = VexUrl::split(url);
    std::string key = urlKey(split);
    const char* forced = forcedOptions(options);
    if (!forced) {
        if (SkarnSocket* socket = takeIdleFor(key, secure, split.isHttps(), options))
            return socket;
    }
    return openConnection(secure, url, forced ? forced : options, std::move(key));
}

SkarnSocket* SkrConnectionPool::getSocketConnection(int secure, const char* host, int port, const char* options)
{
    HostRecord record(host);
    std::string key = hostPortKey(host, port);
    const char* forced = forcedOptions(options);
    if (!forced) {
        if (SkarnSocket* socket = takeIdleFor(key, secure, false, options))
            return socket;
    }
    return openConnection(secure, port, record.address(), forced ? forced : options, std::move(key));
}

void SkrConnectionPool::returnSocket(SkarnSocket* theSocket)
{
    VEX_ASSERT(theSocket);
    theSocket->setTimestamp(VexHighResolutionTime::getLocalTime());
    theSocket->incReuseCounter();
    std::string key = theSocket->getPoolKey();
    if (key.empty()) {
        delete theSocket;  // a bare socket has no server to be found under
        return;
    }
    VEX_GUARDED("SkrConnectionPool::returnSocket", {
        try {
            VexThreadGuard guard(m_lock);
            m_index[key].push_back(theSocket);
        } catch (...) {
            delete theSocket;  // not stored: the caller no longer owns it either
            throw;
        }
    });
}
