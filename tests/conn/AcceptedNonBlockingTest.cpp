// Accepted connections follow ZEV_SKT_NONBLOCKING like every other socket, so a
// server's read time-outs work on them, plain and TLS.
#include "conn/SkarnServerSocket.h"
#include "net/SkrSocket.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"
#include "support/ScopedEnv.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

TEST(AcceptedSocket, NonBlockingUnderTheVariableAndItsReadsTimeOut)
{
    const TestCertificates& c = TestCertificates::get();
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        ScopedEnv env("ZEV_SKT_NONBLOCKING", "1");
        std::string doc = tls ? tlsListenerDocument(c.serverCert, c.serverKey) : sessionDocument("");
        SkarnServerSocket* server = SkarnServerSocket::getServerSocket(0, &doc[0], 1, tls ? 1 : 0);
        const int port = server->getListenOnPort();
        Gate timedOut;
        std::thread client([&] {
            SkrSocket s;
            s.Open(port, loopbackAddress(port), (tls ? tlsClientDocument() : sessionDocument("")).c_str());
            timedOut.wait();
            s.getOutputStream().write("ping", 4);
            char end;
            s.getInputStream().read(&end, 1);  // until the server closes
        });
        std::unique_ptr<SkarnSocket> accepted(server->awaitCommunicationAttempt(10));
        ASSERT_NE(nullptr, accepted);
        EXPECT_EQ(1, accepted->isNonBlockingSocket());
        accepted->getInputStream().setTimeout(1);
        char got[4] = {};
        EXPECT_THROW(accepted->getInputStream().read(got, 4), QioIOTimeoutException);
        timedOut.open();
        EXPECT_EQ(4u, accepted->getInputStream().readFully(got, 4));
        EXPECT_EQ("ping", std::string(got, 4));
        accepted.reset();
        client.join();
        server->release();
    }
}
