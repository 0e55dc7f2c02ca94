// The server socket on loopback, plain and TLS: the port the system chose, the document it hands to
// the library, accepting with and without a time-out, the retry budget, the failures.
#include "conn/SkrServerSocket.h"
#include "platform/streams/QioOutputStream.h"
#include "platform/core/VexByteBuffer.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"
#include "support/StatusHookScript.h"
#include "support/TestCertificates.h"

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>

namespace {

const char kOpen[] = "void SkrServerSocket::open (char* serverAddr, int nPort, char* sessionConfigDoc)";
const char kAccept[] = "SkarnSocket* SkrServerSocket::awaitCommunicationAttempt()";

struct Released {
    void operator()(SkarnServerSocket* s) const { s->release(); }
};
using Server = std::unique_ptr<SkarnServerSocket, Released>;

Server serverSocket(const char* address, const std::string& doc, int serverSSL, int port = 0)
{
    std::string text = doc;
    return Server(address ? SkarnServerSocket::getServerSocket(const_cast<char*>(address), port, &text[0], 1, serverSSL)
                          : SkarnServerSocket::getServerSocket(port, &text[0], 1, serverSSL));
}

// The test certificate and key, with forceSSLStatus `forceSSL`.
std::string tlsDocument(const char* forceSSL = "ON")
{
    std::string doc = tlsListenerDocument(TestCertificates::get().serverCert, TestCertificates::get().serverKey);
    return doc.replace(doc.find(">ON<") + 1, 2, forceSSL);
}

// A client (TLS or plain, IPv4 or IPv6) connects, the accepted socket sends "pong".
// Returns what the client got and the accepted socket's address text.
std::string exchange(SkarnServerSocket& server, bool tls, bool ipv6 = false)
{
    const int port = server.getListenOnPort();
    std::string got;
    std::thread client([&] {
        SkrSocket c;
        const std::string doc = tls ? tlsClientDocument() : sessionDocument("");
        noThrowable([&] {
            c.Open(port, loopbackAddress(port, ipv6), doc.c_str());
            char reply[4];
            got.assign(reply, c.getInputStream().readFully(reply, 4));
        });
    });
    std::unique_ptr<SkarnSocket> accepted(server.awaitCommunicationAttempt(10));
    VexByteBuffer peer(64, 64);
    if (accepted) {
        accepted->getIPAddress(peer);
        noThrowable([&] { accepted->getOutputStream().write("pong", 4); });
    }
    client.join();
    return got + " " + std::string(peer.getData(), peer.length());
}

// "code message function | second message or parameters" of the
// SkarnException that `body` raises; "none" when it returns.
std::string failureOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const SkarnException& e) {
        return std::to_string(e.getErrorCode()) + " " + std::to_string(e.getMessageAt(0).getMsgNumber()) + " " +
               e.getBackTraceAt(0).function + " | " +
               (e.getMessageCount() > 1 ? e.getMessageAt(1).format().str() : parmsOf(e));
    }
    return "none";
}

}  // namespace

TEST(ServerSocketOpen, PortAddressAndEncryptionTable)
{
    struct Row {
        const char* label; const char* address; std::string doc; int serverSSL; bool tls, ipv6; const char* peer;
    } rows[] = {
        {"default document, every address", nullptr, "", 0, false, false, "127.0.0.1"},
        {"IPv6 loopback", "::1", sessionDocument(""), 0, false, true, "::1"},
        {"unresolvable host: every address", kUnresolvableHost, "", 0, false, false, "127.0.0.1"},
        {"caller's OFF replaced by ON", "127.0.0.1", tlsDocument("OFF"), 1, true, false, "127.0.0.1"},
        {"caller's ON replaced by OFF", "::1", tlsDocument(), 0, false, true, "::1"},
    };
    for (const Row& row : rows) {
        Server server = serverSocket(row.address, row.doc, row.serverSSL);
        EXPECT_EQ(std::string("pong ") + row.peer, exchange(*server, row.tls, row.ipv6)) << row.label;
    }
}

TEST(ServerSocketOpen, FailuresTable)
{
    Server taken = serverSocket("127.0.0.1", "", 0);
    const std::string open = std::string("5 1841392216 ") + kOpen + " | ";
    // want: the beginning of what failureOf gives
    struct Row {
        const char* label; std::string doc; int serverSSL, port; std::string want;
    } rows[] = {
        {"port out of range", "", 0, 65536, std::string("1 1841617768 ") + kOpen + " | |65536"},
        {"port in use", "", 0, taken->getListenOnPort(), open + "QSM_Bind=0xfffffffb QSM_Bind: binding"},
        {"TLS, no certificate", "", 1, 0, open + "QSM_Listen=0xfffffff8 QSM_Listen: a TLS listener needs cert"},
    };
    for (const Row& row : rows) {
        const std::string got = failureOf([&] { serverSocket("127.0.0.1", row.doc, row.serverSSL, row.port); });
        EXPECT_EQ(row.want, got.substr(0, row.want.size())) << row.label;
    }
    // A body of the base, which hosts' own server sockets inherit.
    char addr[] = "127.0.0.1";
    expectSkarnError([&] { taken->open(addr, 1); }, {0, 1841854490u, "", "SkarnServerSocket::open(char*,int)"});
}

TEST(ServerSocketAccept, TimeOutRetriesAndFailuresTable)
{
    Server server = serverSocket("127.0.0.1", "", 0);
    const std::string accept = std::string("5 1841392216 ") + kAccept + " | ";
    // want: the beginning of what failureOf gives; "none": a null result
    struct Row {
        const char* label; StatusHookScript script; int timeout; std::string want; std::map<std::string, int> asked;
    } rows[] = {
        {"nobody comes within 1 s", {}, 1, "none", {{"QSM_Poll", 1}}},
        {"handshake keeps blocking", {{}, {{"QSM_Accept", -15}, {"QSM_EstablishSecure", -23}}, {}}, 0,
         accept + "QSM_EstablishSecure=0xffffffe9 ", {{"QSM_Accept", 1}, {"QSM_EstablishSecure", 6}}},
        {"accept fails", {{}, {{"QSM_Accept", -5}}, {}}, 0, accept + "QSM_Accept=0xfffffffb ", {{"QSM_Accept", 1}}},
    };
    for (Row& row : rows) {
        StatusHookInstalled hook(row.script);
        const std::string got = failureOf([&] { EXPECT_EQ(nullptr, server->awaitCommunicationAttempt(row.timeout)); });
        EXPECT_EQ(row.want, got.substr(0, row.want.size())) << row.label;
        for (const auto& [call, times] : row.asked)
            EXPECT_EQ(times, row.script.asked[call]) << row.label << " " << call;
    }
    EXPECT_EQ("pong 127.0.0.1", exchange(*server, false));  // still listening
}

// A TLS client that connects and says nothing holds no accept: the timed
// accept returns empty-handed, the next client is accepted, and the silent
// one stays pending until its own handshake time-out.
TEST(ServerSocketAccept, SilentTlsClientHoldsNoTimedAccept)
{
    Server server = serverSocket("127.0.0.1", tlsDocument(), 1);
    int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_storage to = loopbackAddress(server->getListenOnPort(), false);
    ASSERT_EQ(0, ::connect(silent, reinterpret_cast<sockaddr*>(&to), sizeof(sockaddr_in)));
    EXPECT_EQ(nullptr, server->awaitCommunicationAttempt(1));
    EXPECT_EQ("pong 127.0.0.1", exchange(*server, true));
    ::close(silent);
}
