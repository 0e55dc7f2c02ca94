// Messages over real loopback connections: the writer on one socket, the
// reader on the other end, for requests and responses, every framing, and
// 0, 1 and 5 attachments; then half-read messages on one kept connection.
#include "http/loopback/LoopbackSupport.h"

#include "http/SkrMessageReader.h"
#include "platform/dom/VexIDOM_Document.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <random>
#include <string>

namespace {

std::vector<OutPart> attachmentSet(int count)
{
    std::string binary = allByteValues(3), random(100000, '\0');
    std::mt19937 rng(7);
    for (char& c : random)
        c = static_cast<char>(rng());
    // The last part's bytes look like the framing around them.
    const std::string tricky = "\r\n--=_=mirra-mp-boundary=_\r\n--\r\n0\r\n\r\n";
    std::vector<OutPart> all = {{"application/octet-stream", "1", binary, binary},
                                {"text/skarn-pre-encoded-quoted-printable", "2", "caf=C3=A9 =3D=\r\nsoft\r\nline", "caf\xC3\xA9 =soft\r\nline"},
                                {"", "3", "", "", true},
                                {"application/octet-stream", "4", random, random},
                                {"text/plain", "5", tricky, tricky}};
    all.resize(static_cast<std::size_t>(count));
    return all;
}

// Writes on one end while the other reads the message whole.
Received exchange(AcceptedPlainSocket& from, AcceptedPlainSocket& to, bool request, VexIDOM_Document& env,
                  const std::vector<OutPart>& parts, int chunk)
{
    auto writing = std::async(std::launch::async, [&] { writeMessage(from, request, env, parts, chunk); });
    Received got = readMessage(to, request);
    writing.get();
    return got;
}

TEST(LoopbackExchange, EnvelopeAndAttachmentsEveryFraming)
{
    std::unique_ptr<VexIDOM_Document> env(makeEnvelope("caf\xC3\xA9 \xE6\x97\xA5 & <x> \"q\""));
    const std::string sent = serialise(env->getDocumentElement());
    for (bool request : {true, false}) {
        for (int count : {0, 1, 5}) {
            for (int chunk : {0, 1, 2, 4000, 65536}) {
                SCOPED_TRACE(testing::Message() << (request ? "request" : "response") << " parts " << count << " chunk " << chunk);
                SocketPair pair = makeSocketPair(count == 5 && chunk == 2 ? LoopbackPeer::IPv6 : LoopbackPeer::IPv4);
                AcceptedPlainSocket& writerSock = request ? *pair.client : *pair.server;
                AcceptedPlainSocket& readerSock = request ? *pair.server : *pair.client;
                std::vector<OutPart> parts = attachmentSet(count);
                Received got = exchange(writerSock, readerSock, request, *env, parts, chunk);
                EXPECT_EQ(sent, got.envelope);
                ASSERT_EQ(parts.size(), got.parts.size());
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    EXPECT_EQ(parts[i].id, got.parts[i].id);
                    EXPECT_EQ(parts[i].domNode ? sent : parts[i].decoded, got.parts[i].bytes) << i;
                    if (parts[i].domNode) {
                        EXPECT_EQ("text/xml", got.parts[i].contentType);
                    }
                }
                EXPECT_EQ(request ? "" : "200", got.statusCode);
                EXPECT_EQ(1, writerSock.isReusable());
                EXPECT_EQ(1, readerSock.isReusable());
            }
        }
    }
}

TEST(LoopbackExchange, HalfReadMessagesOnOneConnection)
{
    SocketPair pair = makeSocketPair();
    std::unique_ptr<VexIDOM_Document> env(makeEnvelope(std::string(20000, 'y')));
    const std::string sent = serialise(env->getDocumentElement());
    const int rounds[][2] = {{4000, 0}, {0, 0}, {65536, 5}};  // chunk size, parts
    for (const auto& round : rounds) {
        SCOPED_TRACE(round[0]);
        std::vector<OutPart> parts = attachmentSet(round[1]);
        // Each side in turn reads 10 bytes of the envelope, then drops the reader.
        for (bool request : {true, false}) {
            AcceptedPlainSocket& from = request ? *pair.client : *pair.server;
            AcceptedPlainSocket& to = request ? *pair.server : *pair.client;
            auto writing = std::async(std::launch::async, [&] { writeMessage(from, request, *env, parts, round[0]); });
            {
                SkrMessageReader reader(request ? 1 : 0, to.getInputStream(), &to);
                char buf[10];
                QioInputStream& s = reader.openEnvelope();
                ASSERT_EQ(10u, s.readFully(buf, 10));
                EXPECT_EQ("<soap:Enve", std::string(buf, 10));
                // A multipart reader learns of the attachments when the envelope
                // part is closed; its destructor then reads them.
                if (round[1])
                    reader.closeEnvelope(s);
            }
            writing.get();
        }
    }
    // The next exchange parses whole in both directions.
    Received got = exchange(*pair.client, *pair.server, true, *env, attachmentSet(1), 2);
    EXPECT_EQ(sent, got.envelope);
    ASSERT_EQ(1u, got.parts.size());
    EXPECT_EQ(allByteValues(3), got.parts[0].bytes);
    EXPECT_EQ(sent, exchange(*pair.server, *pair.client, false, *env, {}, 0).envelope);
    EXPECT_EQ(1, pair.client->isReusable());
    EXPECT_EQ(1, pair.server->isReusable());
}

}  // namespace
