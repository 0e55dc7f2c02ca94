// Messages over real loopback connections: the writer on one socket, the
// reader on the other end, for requests and responses, every framing, and
// 0, 1 and 5 attachments; half-read messages on a kept connection; an
// interim 100 response; hostile envelopes.
#include "http/loopback/LoopbackSupport.h"

#include "api/SkarnException.h"
#include "http/SkrMessageReader.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>

namespace {

std::vector<OutPart> attachmentSet(int count)
{
    std::vector<OutPart> all;
    std::string binary = allByteValues(3);
    all.push_back({"application/octet-stream", "1", binary, binary});
    all.push_back({"text/skarn-pre-encoded-quoted-printable", "2", "caf=C3=A9 =3D=\r\nsoft\r\nline", "caf\xC3\xA9 =soft\r\nline"});
    all.push_back({"", "3", "", "", true});
    std::mt19937 rng(7);
    std::string random(100000, '\0');
    for (char& c : random)
        c = static_cast<char>(rng());
    all.push_back({"application/octet-stream", "4", random, random});
    // A part whose bytes look like the framing around them.
    std::string tricky = "\r\n--=_=mirra-mp-boundary=_\r\n--\r\n0\r\n\r\n";
    all.push_back({"text/plain", "5", tricky, tricky});
    all.resize(static_cast<std::size_t>(count));
    return all;
}

struct Exchange {
    bool request;
    int attachments;
    int chunkSize;
};

std::string label(const Exchange& e)
{
    return std::string(e.request ? "request" : "response") + " parts " + std::to_string(e.attachments) + " chunk " +
           std::to_string(e.chunkSize);
}

TEST(LoopbackExchange, EnvelopeAndAttachmentsEveryFraming)
{
    std::unique_ptr<VexIDOM_Document> env(makeEnvelope("caf\xC3\xA9 \xE6\x97\xA5 & <x> \"q\""));
    const std::string sent = serialise(env->getDocumentElement());
    for (bool request : {true, false}) {
        for (int count : {0, 1, 5}) {
            for (int chunk : {0, 1, 2, 4000, 65536}) {
                Exchange ex{request, count, chunk};
                SCOPED_TRACE(label(ex));
                SocketPair pair = makeSocketPair(count == 5 && chunk == 2 ? LoopbackPeer::IPv6 : LoopbackPeer::IPv4);
                AcceptedPlainSocket& writerSock = request ? *pair.client : *pair.server;
                AcceptedPlainSocket& readerSock = request ? *pair.server : *pair.client;
                std::vector<OutPart> parts = attachmentSet(count);
                auto writing = std::async(std::launch::async, [&] { writeMessage(writerSock, request, *env, parts, chunk); });
                Received got = readMessage(readerSock, request);
                writing.get();
                EXPECT_EQ(sent, got.envelope);
                ASSERT_EQ(parts.size(), got.parts.size());
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    SCOPED_TRACE(i);
                    EXPECT_EQ(parts[i].id, got.parts[i].id);
                    if (parts[i].domNode) {
                        EXPECT_EQ("text/xml", got.parts[i].contentType);
                        EXPECT_EQ(sent, got.parts[i].bytes);
                    } else {
                        EXPECT_EQ(parts[i].decoded, got.parts[i].bytes);
                    }
                }
                if (!request) {
                    EXPECT_EQ("200", got.statusCode);
                }
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
    struct Round {
        int chunk;
        int parts;
    } rounds[] = {{4000, 0}, {0, 0}, {65536, 5}};
    for (const Round& r : rounds) {
        SCOPED_TRACE(r.chunk);
        std::vector<OutPart> parts = attachmentSet(r.parts);
        // Request: the server reads 10 bytes of the envelope, then drops the reader.
        auto req = std::async(std::launch::async, [&] { writeMessage(*pair.client, true, *env, parts, r.chunk); });
        {
            SkrMessageReader reader(1, pair.server->getInputStream(), pair.server.get());
            char buf[10];
            QioInputStream& s = reader.openEnvelope();
            ASSERT_EQ(10u, s.readFully(buf, 10));
            // A multipart reader learns of the attachments when the envelope
            // part is closed; its destructor then reads them.
            if (r.parts)
                reader.closeEnvelope(s);
        }
        req.get();
        // Response: likewise on the client side.
        auto resp = std::async(std::launch::async, [&] { writeMessage(*pair.server, false, *env, parts, r.chunk); });
        {
            SkrMessageReader reader(0, pair.client->getInputStream(), pair.client.get());
            char buf[10];
            QioInputStream& s = reader.openEnvelope();
            ASSERT_EQ(10u, s.readFully(buf, 10));
            EXPECT_EQ("<soap:Enve", std::string(buf, 10));
            if (r.parts)
                reader.closeEnvelope(s);
        }
        resp.get();
    }
    // The next exchange parses whole in both directions.
    std::vector<OutPart> one = attachmentSet(1);
    auto req = std::async(std::launch::async, [&] { writeMessage(*pair.client, true, *env, one, 2); });
    Received got = readMessage(*pair.server, true);
    req.get();
    EXPECT_EQ(sent, got.envelope);
    ASSERT_EQ(1u, got.parts.size());
    EXPECT_EQ(allByteValues(3), got.parts[0].bytes);
    auto resp = std::async(std::launch::async, [&] { writeMessage(*pair.server, false, *env, {}, 0); });
    EXPECT_EQ(sent, readMessage(*pair.client, false).envelope);
    resp.get();
    EXPECT_EQ(1, pair.client->isReusable());
    EXPECT_EQ(1, pair.server->isReusable());
}

TEST(LoopbackExchange, MultipartLeftInsideEnvelopeSpendsConnection)
{
    SocketPair pair = makeSocketPair();
    std::unique_ptr<VexIDOM_Document> env(makeEnvelope("x"));
    auto req = std::async(std::launch::async, [&] { writeMessage(*pair.client, true, *env, attachmentSet(2), 0); });
    {
        SkrMessageReader reader(1, pair.server->getInputStream(), pair.server.get());
        char buf[10];
        ASSERT_EQ(10u, reader.openEnvelope().readFully(buf, 10));
    }
    req.get();
    // The rest of the message could not be read: the connection is not reused.
    EXPECT_EQ(0, pair.server->isReusable());
}

TEST(LoopbackExchange, InterimContinueBeforeResponse)
{
    SocketPair pair = makeSocketPair();
    std::unique_ptr<VexIDOM_Document> env(makeEnvelope("after continue"));
    auto writing = std::async(std::launch::async, [&] {
        pair.server->getOutputStream().write("HTTP/1.1 100 Continue\r\n\r\n", 25);
        writeMessage(*pair.server, false, *env, attachmentSet(1), 4000);
    });
    Received got = readMessage(*pair.client, false);
    writing.get();
    EXPECT_EQ(serialise(env->getDocumentElement()), got.envelope);
    EXPECT_EQ("200", got.statusCode);
    ASSERT_EQ(1u, got.parts.size());
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Sends `envelope` as a chunked request body and expects errEnvelope16 from
// the server's reader, within 5 seconds and 32 MiB more peak memory.
void expectEnvelope16(const std::string& envelope)
{
    SocketPair pair = makeSocketPair();
    std::string wire = "POST / HTTP/1.1\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(envelope.size()) +
                       "\r\n\r\n" + envelope;
    pair.client->getOutputStream().write(wire.data(), static_cast<unsigned>(wire.size()));
    long before = peakKiB();
    auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<VexIDOM_Document> holder(makeEnvelope(""));
    {
        SkrMessageReader r(1, pair.server->getInputStream(), pair.server.get());
        try {
            r.getEnvelope(*holder);
            ADD_FAILURE() << "nothing thrown";
        } catch (const SkarnException& e) {
            EXPECT_EQ(SkarnException::errEnvelope16, e.getErrorCode());
            EXPECT_EQ(1842023855u, e.getMessageAt(0).getMsgNumber());
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_LT(peakKiB() - before, 32 * 1024);
    EXPECT_EQ(0, pair.server->isReusable());
}

TEST(LoopbackHostileEnvelope, NotWellFormed)
{
    expectEnvelope16("<soap:Envelope xmlns:soap=\"urn:s\"><soap:Body></soap:Envelope>");
}

TEST(LoopbackHostileEnvelope, ExternalEntityFileIsNotRead)
{
    std::string path = testing::TempDir() + "skarn_entity_" + std::to_string(getpid()) + ".txt";
    { std::ofstream(path) << "SECRET"; }
    int fd = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_GE(inotify_add_watch(fd, path.c_str(), IN_OPEN | IN_ACCESS), 0);
    expectEnvelope16("<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY x SYSTEM \"file://" + path + "\">]><e>&x;</e>");
    char buf[4096];
    EXPECT_LE(::read(fd, buf, sizeof buf), 0) << "the entity's file was opened";
    close(fd);
    std::remove(path.c_str());
}

TEST(LoopbackHostileEnvelope, NestedEntityExpansion)
{
    std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lollollollollollollollollollol\">";
    for (int i = 1; i <= 12; ++i) {
        std::string prev = i == 1 ? "&lol;" : "&lol" + std::to_string(i - 1) + ";";
        xml += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += prev;
        xml += "\">";
    }
    xml += "]><lolz>&lol12;</lolz>";
    expectEnvelope16(xml);
}

}  // namespace
