#include "support/LoopbackPeer.h"

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

socklen_t lengthOf(const sockaddr_storage& a) { return a.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6); }

int listenOn(LoopbackPeer::Family family, sockaddr_storage& bound)
{
    sockaddr_storage a = loopbackAddress(0, family == LoopbackPeer::IPv6);
    int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    socklen_t len = sizeof bound;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), lengthOf(a)) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        int e = errno;
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(std::string("listen on loopback: ") + std::strerror(e));
    }
    return fd;
}

// The port sits at the same place in both families.
int portOf(const sockaddr_storage& a) { return ntohs(reinterpret_cast<const sockaddr_in*>(&a)->sin_port); }

// Reads and drops up to `bytes` bytes, until the peer ends or the stop flag.
void readUpTo(int fd, const std::atomic<bool>& stop, std::size_t bytes)
{
    std::vector<char> buffer(65536);
    for (std::size_t got = 0; got < bytes && LoopbackPeer::waitReadable(fd, stop);) {
        ssize_t n = ::recv(fd, buffer.data(), std::min(buffer.size(), bytes - got), 0);
        if (n <= 0)
            return;
        got += static_cast<std::size_t>(n);
    }
}

}  // namespace

LoopbackPeer::LoopbackPeer(Family family, Handler handler) : m_handler(std::move(handler)), m_family(family)
{
    m_listener = listenOn(family, m_address);
    m_port = portOf(m_address);
    m_thread = std::thread([this] {
        while (!m_stop.load()) {
            pollfd p{m_listener, POLLIN, 0};
            int fd = ::poll(&p, 1, 50) > 0 ? ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
            if (fd < 0)
                continue;
            m_accepted.fetch_add(1);
            m_workers.emplace_back([this, fd] {
                m_handler(fd, m_stop);
                ::close(fd);
            });
        }
    });
}

std::string LoopbackPeer::url(const char* path) const
{
    return std::string("http://") + (m_family == IPv4 ? "127.0.0.1" : "[::1]") + ":" + std::to_string(m_port) +
           (path ? path : "");
}

void LoopbackPeer::stop()
{
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
    for (std::thread& t : m_workers)
        t.join();
    m_workers.clear();
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
}

bool LoopbackPeer::waitReadable(int fd, const std::atomic<bool>& stop)
{
    while (!stop.load()) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, 50);
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
    return false;
}

bool LoopbackPeer::sendAll(int fd, const char* bytes, std::size_t length)
{
    while (length > 0) {
        ssize_t n = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

LoopbackPeer::Handler LoopbackPeer::echo()
{
    return [](int fd, const std::atomic<bool>& stop) {
        std::vector<char> buffer(65536);
        while (waitReadable(fd, stop)) {
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0 || !sendAll(fd, buffer.data(), static_cast<std::size_t>(n)))
                return;
        }
    };
}

LoopbackPeer::Handler LoopbackPeer::silent()
{
    return [](int fd, const std::atomic<bool>& stop) { readUpTo(fd, stop, SIZE_MAX); };
}

LoopbackPeer::Handler LoopbackPeer::resetAfter(std::size_t bytes)
{
    return [bytes](int fd, const std::atomic<bool>& stop) {
        readUpTo(fd, stop, bytes);
        linger l{1, 0};  // closing now sends a reset instead of an orderly end
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    };
}

LoopbackPeer::Handler LoopbackPeer::sendThenClose(std::string bytes)
{
    return [bytes](int fd, const std::atomic<bool>&) { sendAll(fd, bytes.data(), bytes.size()); };
}

LoopbackPeer::Handler LoopbackPeer::readThenSend(std::size_t bytes, std::string reply)
{
    return [bytes, reply](int fd, const std::atomic<bool>& stop) {
        readUpTo(fd, stop, bytes);
        sendAll(fd, reply.data(), reply.size());
    };
}

std::pair<int, int> LoopbackPeer::connectedPair(Family family)
{
    sockaddr_storage bound{};
    int listener = listenOn(family, bound);
    int client = ::socket(bound.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool connected = client >= 0 && ::connect(client, reinterpret_cast<sockaddr*>(&bound), lengthOf(bound)) == 0;
    int server = connected ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    ::close(listener);
    if (server < 0) {
        if (client >= 0)
            ::close(client);
        throw std::runtime_error("no connected pair on loopback");
    }
    return {client, server};
}

int LoopbackPeer::unusedPort(Family family)
{
    sockaddr_storage bound{};
    ::close(listenOn(family, bound));
    return portOf(bound);
}

sockaddr_storage loopbackAddress(int port, bool ipv6)
{
    sockaddr_storage a{};
    if (ipv6) {
        sockaddr_in6* a6 = reinterpret_cast<sockaddr_in6*>(&a);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        a6->sin6_port = htons(static_cast<uint16_t>(port));
    } else {
        sockaddr_in* a4 = reinterpret_cast<sockaddr_in*>(&a);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a4->sin_port = htons(static_cast<uint16_t>(port));
    }
    return a;
}

const char* const kUnresolvableHost = "no-such-host-with-a-label-longer-than-sixty-three-characters-xxxxxx.invalid";

int openDescriptorCount()
{
    int count = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (!d)
        return -1;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.')
            ++count;
    ::closedir(d);
    return count - 1;  // the directory stream's own descriptor
}
