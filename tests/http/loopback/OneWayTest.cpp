// One-way operations on a real connection: answers without a body (no
// length, the connection left open) end doRequest at once, with no envelope,
// and the connection carries the next exchange.
#include "session/SkrSession.h"
#include "support/AcceptedPlainSocket.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"

#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>

TEST(OneWay, AnswersWithoutBodyEndTheExchangeAtOnce)
{
    const struct { const char* label; std::string answer; std::string text; } rows[] = {
        {"204 without length, connection open", "HTTP/1.1 204 No Content\r\n\r\n", "<none>"},
        {"202, length 0", "HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n", "<none>"},
        {"100, then 304 announcing a length", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 304 Not Modified\r\nContent-Length: 12\r\n\r\n", "<none>"},
        {"200, length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "<none>"},
        {"then an envelope on the same connection", "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n<r>x</r>", "x"},
    };
    const auto [fd, peer] = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
    AcceptedPlainSocket* sock = new AcceptedPlainSocket(fd);
    sock->markReusable();
    SkrSession* s = new SkrSession(nullptr, sock, "/svc");
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope("q"));
    VexIDOM_Element root = req->getDocumentElement();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::unique_ptr<VexIDOM_Document> resp(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder"));
        VexIDOM_Element holder = resp->getDocumentElement();
        auto exchange = std::async(std::launch::async, [&] { noThrowable([&] { s->doRequest(root, holder); }); });
        readUntil(peer, "\r\n0\r\n\r\n");
        ASSERT_TRUE(LoopbackPeer::sendAll(peer, row.answer.data(), row.answer.size()));
        if (exchange.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "doRequest still waits after 5 s";
            ::shutdown(peer, SHUT_RDWR);  // ends the wait, so that the test ends
            exchange.get();
            break;
        }
        exchange.get();
        EXPECT_EQ(row.text, holder.getFirstChild().isNull() ? "<none>" : holder.getLastChild().getTextContent().str());
        EXPECT_EQ(1, sock->isReusable());
    }
    s->release();
    ::close(peer);
}
