// Secure-layer failures under the secure socket (through the status hook), a
// non-blocking gigabyte write on a small stack, and a plain socket made while
// ZEV_SKT_NONBLOCKING is set.
#include "net/SkrSocket.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"
#include "support/QsmTestServer.h"
#include "support/ScopedEnv.h"
#include "support/StatusHookScript.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>

#include <memory>

namespace {

// A secure socket whose library handle a test can see.
struct PeekSocket : SkrSocket { void* handle() const { return m_hQSMSocket; } };

// The peers below are no users of the secure layer, so the hook sees only the socket's calls.
void openTo(const LoopbackPeer& peer, SkarnSocket& s) { s.Open(peer.port(), peer.address(), sessionDocument("").c_str()); }

TEST(SecureSocketFailure, ReceiveFailureRaisesTheLibraryText)
{
    for (int nonBlocking : {0, 1}) {
        SCOPED_TRACE(nonBlocking);
        LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::silent());
        std::unique_ptr<SkarnSocket> s(SkarnSocket::getSocket(1, nonBlocking));
        openTo(peer, *s);
        StatusHookScript script{{}, {{"QSM_Recv", QSM_E_TLS}}, {}};
        StatusHookInstalled hook(script);
        expectSkarnError([&] { s->getInputStream().read(); },
                         {SkarnException::errSocket, 1841392216u,
                          "QSM_Recv=0xffffffee QSM_Recv: status -18 set by the test hook", "SkrSocket::ReadBuffer"});
    }
}

TEST(SecureSocketFailure, CloseHandleFailureRaisesInCloseAndIsSwallowedByTheDestructor)
{
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::silent());
    StatusHookScript script{{}, {{"QSM_CloseHandle", QSM_E_SYSTEM}}, {}};
    std::unique_ptr<PeekSocket> s(new PeekSocket);
    openTo(peer, *s);
    {
        StatusHookInstalled hook(script);
        expectSkarnError([&] { s->Close(); }, {SkarnException::errSocket, 1841392216u,
                                              "QSM_CloseHandle: status -5 set by the test hook", "SkrSocket::Close"});
    }
    EXPECT_EQ(nullptr, s->handle());
    EXPECT_EQ(0, s->isAlive());
    s->Close();  // closed: nothing more to release, nothing raised

    openTo(peer, *s);
    StatusHookInstalled hook(script);
    EXPECT_NO_THROW(s.reset());
    EXPECT_EQ(2, script.asked["QSM_CloseHandle"]);
}

void* writeGigabyte(void* socket)
{
    void* bytes = ::mmap(nullptr, 1u << 30, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    int written = 0;
    if (bytes != MAP_FAILED)
        static_cast<SkrSocket*>(socket)->WriteBuffer(static_cast<char*>(bytes), 1u << 30, &written);
    ::munmap(bytes, 1u << 30);
    return reinterpret_cast<void*>(static_cast<long>(written));
}

// 32768 pieces on a 256 KiB stack: one after another, not a stack frame each.
TEST(SecureSocketFailure, NonBlockingGigabyteWriteOnASmallStack)
{
    ScopedEnv noSocket("ZEV_SKT_NO_SOCKET", "1");
    std::unique_ptr<SkarnSocket> s(SkarnSocket::getSocket(1, 1));
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t t;
    ASSERT_EQ(0, pthread_create(&t, &attr, &writeGigabyte, s.get()));
    void* written = nullptr;
    pthread_join(t, &written);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(1L << 30, reinterpret_cast<long>(written));
}

TEST(PlainSocketNonBlockingVariable, FlagIsSetAndTheSocketStillReadsAndWrites)
{
    ScopedEnv nonBlocking("ZEV_SKT_NONBLOCKING", "");
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    std::unique_ptr<SkarnSocket> s(SkarnSocket::getSocket(0, 0));
    EXPECT_EQ(1, s->isNonBlockingSocket());
    s->Open(peer.port(), peer.address(), nullptr);
    s->getOutputStream().write("ping", 4);
    char got[4];
    EXPECT_EQ(4u, s->getInputStream().readFully(got, 4));
    EXPECT_EQ("ping", std::string(got, 4));
}

}  // namespace
