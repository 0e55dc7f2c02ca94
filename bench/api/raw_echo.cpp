// The floor of an echo exchange on this machine: the same HTTP bytes as the SOAP
// peers exchange, sent and received with bare sockets and no XML at all (one send
// and one receive per side and exchange), so that a ratio to gSOAP can be read
// against the best any toolkit could do here.
// Usage: raw_echo server PORT [--close]      (PORT 0: any; printed on the first line)
//        raw_echo client URL [N] [BYTES] [THREADS] [keep|new]
// The server answers each request with the same body, a thread per kept-alive
// connection; --close answers "Connection: close" and closes, serving each
// connection on the accepting thread. No TLS: the floor is of the plain exchange.
#include "EchoLoad.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::atomic<long> failures{0};

// Reads one message (head and Content-Length body) into `buf`, keeping what
// follows; false when the peer closed or a receive failed.
bool readMessage(int fd, std::string& buf, std::string& body)
{
    std::size_t end;
    char piece[65536];
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
        if (n <= 0)
            return false;
        buf.append(piece, static_cast<std::size_t>(n));
    }
    const std::size_t at = buf.find("Content-Length: ");
    if (at == std::string::npos || at > end)
        return false;
    const std::size_t length = std::strtoul(buf.c_str() + at + 16, nullptr, 10);
    while (buf.size() < end + 4 + length) {
        const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
        if (n <= 0)
            return false;
        buf.append(piece, static_cast<std::size_t>(n));
    }
    body.assign(buf, end + 4, length);
    buf.erase(0, end + 4 + length);
    return true;
}

bool sendAll(int fd, const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void noDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void serveConnection(int fd, bool close)
{
    noDelay(fd);
    std::string buf, body;
    while (readMessage(fd, buf, body)) {
        const std::string answer = std::string("HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n") +
                                   (close ? "Connection: close\r\n" : "") +
                                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        if (!sendAll(fd, answer) || close)
            break;
    }
    ::close(fd);
}

int server(int port, bool close)
{
    const int l = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(l, 4096) != 0 ||
        ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        std::perror("raw_echo server");
        return 3;
    }
    std::printf("%d\n", ntohs(a.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept(l, nullptr, nullptr);
        if (fd < 0)
            continue;
        if (close)
            serveConnection(fd, true);  // one exchange: served at once, no thread started for it
        else
            std::thread(serveConnection, fd, false).detach();
    }
}

int connectTo(const sockaddr_in& a)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    noDelay(fd);
    return fd;
}

void client(sockaddr_in a, long n, const std::string& text, bool keep)
{
    const std::string body = "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                             "<SOAP-ENV:Body><ns:echoString xmlns:ns=\"urn:skarn-bench-echo\"><in>" +
                             text + "</in></ns:echoString></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    const std::string request = std::string("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n") +
                                "Content-Type: text/xml; charset=utf-8\r\nSOAPAction: \"\"\r\n" +
                                (keep ? "" : "Connection: close\r\n") + "Content-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    std::string buf, answer;
    int fd = -1;
    for (long i = 0; i < n; ++i) {
        if (fd < 0 && (fd = connectTo(a)) < 0) {
            ++failures;
            return;
        }
        if (!sendAll(fd, request) || !readMessage(fd, buf, answer) || answer != body) {
            std::fprintf(stderr, "exchange %ld failed\n", i);
            ++failures;
            break;
        }
        if (!keep) {
            ::close(fd);
            fd = -1;
            buf.clear();
        }
    }
    if (fd >= 0)
        ::close(fd);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "server") == 0)
        return server(std::atoi(argv[2]), argc > 3 && std::strcmp(argv[3], "--close") == 0);
    if (argc < 3 || std::strcmp(argv[1], "client") != 0 || std::strncmp(argv[2], "http://127.0.0.1:", 17) != 0) {
        std::fprintf(stderr, "usage: %s server PORT [--close] | client http://127.0.0.1:PORT/ [N] [BYTES] [THREADS] "
                             "[keep|new]\n", argv[0]);
        return 2;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2] + 17)));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const long n = argc > 3 ? std::atol(argv[3]) : 10000;
    const long bytes = argc > 4 ? std::atol(argv[4]) : 783;
    const int threads = argc > 5 ? std::atoi(argv[5]) : 1;
    const bool keep = argc <= 6 || std::strcmp(argv[6], "new") != 0;
    if (n <= 0 || bytes < 0 || threads <= 0)
        return 2;
    const std::string text = echoText(bytes);
    runClients(threads, n, [&] { client(a, n, text, keep); });
    return failures.load() ? 3 : 0;
}
