// Responses sent back to back in one TLS send, read by one reader after
// another: what a reader read past its message reaches the next one.
#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"
#include "support/MemorySocket.h"
#include "support/SkarnTestServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

namespace {

// Message i: an envelope whose size puts message ends anywhere in a 64 KiB
// read-ahead, then i % 3 attachments; framed by a length or chunks of 4000, 7 or 65536 bytes.
std::vector<std::string> partsOf(int i)
{
    std::vector<std::string> parts{"<e>" + std::string(static_cast<std::size_t>(i * 7919 % 90000), 'a') + "</e>"};
    for (int k = 0; k < i % 3; ++k) {
        parts.emplace_back();
        for (int b = 0; b < 256 * (1 + (i + k) % 40); ++b)  // every byte value
            parts.back() += static_cast<char>(b);
    }
    return parts;
}

const int N = 10;

// Responses 0..N-1 as the writer puts them on the wire, then one byte that belongs to none.
std::string pipeline()
{
    MemorySocket sock;
    for (int i = 0; i < N; ++i) {
        const std::vector<std::string> parts = partsOf(i);
        const int chunk[] = {0, 4000, 7, 65536};
        SkrMessageWriter w("", 0, parts.size() > 1, &sock, i % 4, chunk[i % 4], nullptr);
        w.init();
        QioOutputStream& s = w.openEnvelope();
        s.write(parts[0].data(), static_cast<unsigned>(parts[0].size()));
        w.closeEnvelope(s);
        for (std::size_t k = 1; k < parts.size(); ++k)
            w.addAttachment("a/b", nullptr, parts[k].data(), static_cast<unsigned>(parts[k].size()), "id");
        w.close();
    }
    return sock.output().data() + "X";
}

// Reads N responses with one reader each, checks every part, then the byte after them.
void readPipeline(SkarnSocket& sock)
{
    for (int i = 0; i < N; ++i) {
        SCOPED_TRACE(i);
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        QioInputStream& env = r.openEnvelope();
        std::vector<std::string> got{drain(env)};
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

TEST(Pipeline, ResponsesInOneSendOverTls)
{
    const std::string wire = pipeline();
    for (int nonBlocking : {0, 1}) {
        SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
        Gate gate;
        const TestCertificates& pki = TestCertificates::get();
        SkarnTestServer server(
            [&](SkarnSocket& accepted) {
                writeAll(accepted, wire);
                gate.wait();  // at most 10 s: a reader waiting for lost bytes sees the end then
            },
            tlsListenerDocument(pki.serverCert, pki.serverKey));
        std::unique_ptr<SkarnSocket> s(SkarnSocket::getSocket(1, nonBlocking));
        s->markReusable();
        s->Open(server.port(), loopbackAddress(server.port()), tlsClientDocument().c_str());
        readPipeline(*s);
        gate.open();
    }
}

}  // namespace
