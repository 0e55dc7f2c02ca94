// Messages sent back to back in one send on one connection, plain and TLS,
// read by one reader after another: what each reader's buffer read past its
// message goes back to the socket when the reader is done, and the next
// reader gets every byte of its own message.
#include "http/loopback/LoopbackSupport.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "net/SkarnSocketInputStream.h"
#include "net/SkrSocket.h"
#include "support/Gate.h"
#include "support/LoopbackAddress.h"
#include "support/MemoryInputStream.h"
#include "support/MemorySocket.h"
#include "support/QsmTestServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <future>

namespace {

// Message i: an envelope whose size puts message ends anywhere in a 64 KiB
// read-ahead, then i % 3 attachments.
std::vector<std::string> partsOf(int i)
{
    std::vector<std::string> parts{"<e>" + std::string(static_cast<std::size_t>(i * 7919 % 90000), 'a') + "</e>"};
    for (int k = 0; k < i % 3; ++k)
        parts.push_back(allByteValues(1 + (i + k) % 40));
    return parts;
}

// Message i as the writer puts it on the wire: length-delimited, or chunks of 4000, 7 or 65536 bytes.
std::string wireOf(int i, bool request)
{
    const std::vector<std::string> parts = partsOf(i);
    const int chunk[] = {0, 4000, 7, 65536};
    MemorySocket sock;
    SkrMessageWriter w(request ? "/p" : "", request, parts.size() > 1, &sock, i % 4, chunk[i % 4], nullptr);
    w.init();
    QioOutputStream& s = w.openEnvelope();
    s.write(parts[0].data(), static_cast<unsigned>(parts[0].size()));
    w.closeEnvelope(s);
    for (std::size_t k = 1; k < parts.size(); ++k)
        w.addAttachment("application/octet-stream", nullptr, parts[k].data(), static_cast<unsigned>(parts[k].size()),
                        std::to_string(k).c_str());
    w.close();
    return sock.output().data();
}

// The wire of messages 0..n-1, then one byte that belongs to no message.
std::string pipeline(int n, bool request)
{
    std::string wire;
    for (int i = 0; i < n; ++i)
        wire += wireOf(i, request);
    return wire + "X";
}

// Reads n messages with one reader each, checks every part, then the byte after them.
void readPipeline(SkarnSocket& sock, int n, bool request)
{
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        std::vector<std::string> got;
        SkrMessageReader r(request, sock.getInputStream(), &sock);
        QioInputStream& env = r.openEnvelope();
        got.push_back(drain(env));
        r.closeEnvelope(env);
        while (r.hasMoreAttachments()) {
            SkarnAttachmentReader& a = r.openNextAttachment();
            got.push_back(drain(a.getInputStream()));
            r.closeAttachment(a);
        }
        EXPECT_EQ(partsOf(i), got);
    }
    EXPECT_EQ('X', sock.getInputStream().read());
    EXPECT_EQ(0u, sock.getInputStream().held());
    EXPECT_EQ(1, sock.isReusable());
}

TEST(Pipeline, RequestsInOneSendOnPlainSockets)
{
    for (int n : {2, 10}) {
        SCOPED_TRACE(n);
        SocketPair pair = makeSocketPair();
        const std::string wire = pipeline(n, true);
        auto sending = std::async(std::launch::async, [&] {
            pair.client->getOutputStream().write(wire.data(), static_cast<unsigned>(wire.size()));
            pair.client->Close();  // a reader that waits for lost bytes sees the end instead
        });
        readPipeline(*pair.server, n, true);
        sending.get();
    }
}

TEST(Pipeline, ResponsesInOneSendOverTls)
{
    const TestCertificates& pki = TestCertificates::get();
    for (int nonBlocking : {0, 1}) {
        for (int n : {2, 10}) {
            SCOPED_TRACE(std::to_string(n) + (nonBlocking ? " non-blocking" : " blocking"));
            const std::string wire = pipeline(n, false);
            Gate gate;
            QsmTestServer server(tlsListenerDocument(pki.serverCert, pki.serverKey), [&](QSM_HANDLE& h) {
                qsmSendAll(h, wire);
                gate.wait();  // at most 10 s: a reader waiting for lost bytes sees the end then
            });
            std::unique_ptr<SkarnSocket> s(SkarnSocket::getSocket(1, nonBlocking));
            s->markReusable();
            s->Open(server.port(), loopbackAddress(server.port()), tlsClientDocument().c_str());
            readPipeline(*s, n, false);
            gate.open();
            server.join();
        }
    }
}

}  // namespace
