#ifndef VEX_CRYPTO_H
#define VEX_CRYPTO_H

#include "../core/SkarnExport.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cstdint>

// The secure-socket library: one process-wide VexCrypto (from
// VexCryptoSharedFactory::getInstance) whose QSM_ calls work on opaque socket
// handles, over POSIX sockets and OpenSSL 3. Every QSM_ call returns QSM_S_OK
// (0) on success or a status below; its plain `char* reserved` argument is
// always null. Texts handed out through `char** details` belong to the
// caller, who frees them with QSM_CryptoFree. A failed call also leaves its
// text, which names the call and the reason (OpenSSL's included), as the
// handle's last error (QSM_CryptoGetLastErrorDetails; with a null handle, the
// calling thread's last failure).
//
// Whether a handle's traffic is encrypted is decided by the session
// configuration document given to QSM_Socket (root <sessionConfigDocument>;
// its elements are listed in QsmSessionConfig.h): a client connection is TLS
// when the document says forceSSLStatus ON or its URL's scheme is "https".
// Then QSM_Connect / QSM_Connect_Url answer QSM_E_NEGOTIATE, QSM_EstablishSecure
// runs the handshake (QSM_E_WOULD_BLOCK while a non-blocking one is under
// way), and the next connect answers 0. Certificates are verified, host name
// (or address) included, unless the document says verifyPeer OFF; a failed
// handshake releases the descriptor and every later connect on the handle
// answers QSM_E_FAILED with the reason kept. TLS 1.2 is the lowest version.
//
// A listener whose document says forceSSLStatus ON (it then needs
// certificateFile and privateKeyFile) makes every accepted connection TLS:
// QSM_Accept accepts the TCP connection, keeps it and answers QSM_E_NEGOTIATE;
// QSM_EstablishSecure on the listener runs the handshake on it (bounded by
// handshakeTimeoutSeconds, default 10); the next QSM_Accept hands it out. A
// failed handshake closes that connection only. With QSM_SO_DEFER_HANDSHAKE
// set on the listener, QSM_Accept hands a TLS connection out at once, not yet
// negotiated: QSM_EstablishSecure on the accepted handle then runs its
// handshake (one step per call when the handle is non-blocking, answering
// QSM_E_WOULD_BLOCK until it is done; the time-out counts from the first
// call), so that a silent client holds nobody's accept.
//
// A new TLS client connection resumes the session of an earlier one to the
// same address and port, with the same host name, verified name and trust
// settings (caFile, verifyPeer, certificateFile, privateKeyFile), when the
// server agrees; a server that refuses gets a full handshake. Sessions of a
// failed handshake are dropped. See QsmSessionCache.h and
// QSM_IsSessionResumed.
//
// Threads: distinct handles may be used by distinct threads at once; one
// handle is used by one thread at a time.

typedef void* QSM_HANDLE;

enum {
    QSM_S_OK = 0,
    QSM_S_TIMEOUT = 2,             // QSM_Poll: the time ran out, nothing is ready
    QSM_E_INVALID = -1,            // a null or closed handle, a bad argument
    QSM_E_NOT_OPEN = -2,           // the library is not initialised
    QSM_E_SYSTEM = -5,             // an operating-system socket call failed
    QSM_E_CONFIG = -8,             // the session configuration document or its files are unusable
    QSM_E_CONNECT = -10,           // the TCP connection could not be made; a later attempt may succeed
    QSM_E_PEER_CLOSED = -12,       // QSM_Recv: the peer closed the connection
    QSM_E_FAILED = -13,            // QSM_Connect: final failure, do not retry
    QSM_E_NEGOTIATE = -15,         // connect/accept: call QSM_EstablishSecure
    QSM_E_TLS = -18,               // TLS negotiation or TLS traffic failed (verification included)
    QSM_E_HANDSHAKE_TIMEOUT = -20, // the TLS handshake did not finish within its time limit
    QSM_E_WOULD_BLOCK = -23,       // non-blocking: call again later
    QSM_E_UNREAD_DATA = -24,       // QSM_SocketStatus: bytes nobody read wait on the connection
    QSM_E_INTERRUPTED = -58,       // QSM_Poll: the wait was interrupted by a signal
};

// Option numbers of QSM_SetSockOpt / QSM_GetSockOpt (no level).
enum {
    QSM_TCP_NODELAY = 1,
    QSM_SO_REUSEADDR = 4,
    QSM_SO_SNDBUF = 0x1001,
    QSM_SO_RCVBUF = 0x1002,
    QSM_SO_DEFER_HANDSHAKE = 0x7001,  // listener: accepted TLS connections handed out before their handshake
};
static const unsigned long QSM_FIONBIO = 0x8004667EUL;

// Up to 64 handles for QSM_Select; a ready handle stays in its set.
struct QSM_Handle_Set {
    std::uint32_t count;
    QSM_HANDLE handles[64];
};

// QSM_Poll: events 0x0300 asks for readability. Returned events use the same
// bits: 0x0100 readable (a listener: a connection can be accepted), 0x0010
// writable, 0x0001 error, 0x0002 hang-up, 0x0004 not a valid handle.
struct QSM_Pollfd {
    QSM_HANDLE handle;
    std::uint16_t events;
    std::uint16_t revents;
};
enum {
    QSM_POLL_ERROR = 0x0001,
    QSM_POLL_HANGUP = 0x0002,
    QSM_POLL_INVALID = 0x0004,
    QSM_POLL_WRITABLE = 0x0010,
    QSM_POLL_READ_NORMAL = 0x0100,
    QSM_POLL_READ_BAND = 0x0200,
    QSM_POLL_READABLE = 0x0300,
};

// The test hook: when one is installed, every QSM_ call that takes a handle
// first asks it; a hook that returns true makes the call answer *status at
// once, without doing its work (the handle's last error then says so; only
// QSM_CloseHandle still releases the handle). Lets
// the retry and failure paths above the library run without a misbehaving peer.
typedef bool (*QSM_StatusHook)(void* context, const char* call, QSM_HANDLE handle, int* status);

class SKARN_EXPORT VexCrypto {
public:
    // Process start and stop ("QSM_Crypto_Interface"); isOpen() is non-zero in between.
    static int initialize(const char* interfaceName);
    static void terminate();
    static int isOpen();

    // Installs (or, with null, removes) the test hook; process-wide.
    static void setStatusHook(QSM_StatusHook hook, void* context);

    // Client session resumption: the number of servers (address, port, name
    // and trust settings) whose TLS sessions the process keeps, least recently
    // used first out; default 256, 0 turns resumption off (and drops what was
    // kept). Process-wide.
    static void setSessionCacheSize(int servers);
    static int getSessionCacheSize();

    // A new handle for the document; QSM_E_CONFIG with the reason in *details
    // when the document is refused (QsmSessionConfig.h), QSM_E_NOT_OPEN before initialize.
    int QSM_Socket(QSM_HANDLE* handle, const char* sessionConfigDoc, char* reserved, char** details);
    // The toolkit's own sockets: as above, with the address family of the
    // target (AF_INET, AF_INET6; another value leaves the document's) and,
    // for a listener, whether it speaks TLS (-1 leaves the document's), both
    // in place of what the document says.
    SKARN_HIDDEN int QSM_Socket(QSM_HANDLE* handle, const char* sessionConfigDoc, int family, int forceSSL,
                                char** details);
    // 0 connected; QSM_E_NEGOTIATE: TLS is to be negotiated; QSM_E_CONNECT:
    // the TCP connection failed (a later call tries again with a new
    // descriptor); QSM_E_FAILED: final (an unusable address or URL, an earlier
    // failed handshake, certificates that cannot be loaded).
    int QSM_Connect(QSM_HANDLE handle, const sockaddr_storage* address, int length, char* reserved);
    int QSM_Connect_Url(QSM_HANDLE handle, const char* url, char* reserved);
    int QSM_EstablishSecure(QSM_HANDLE handle, char* reserved);
    int QSM_Accept(QSM_HANDLE listener, QSM_HANDLE* accepted, sockaddr_storage* address, int* length, char* reserved);
    int QSM_Bind(QSM_HANDLE handle, const sockaddr_storage* address, int length, char* reserved);
    // Again on a listener: it keeps listening with the new backlog.
    int QSM_Listen(QSM_HANDLE handle, int backlog, char* reserved);
    int QSM_GetSockName(QSM_HANDLE handle, sockaddr_storage* address, int* length, char* reserved);
    int QSM_SetSockOpt(QSM_HANDLE handle, unsigned long option, const void* value, int length, char* reserved);
    int QSM_GetSockOpt(QSM_HANDLE handle, unsigned long option, void* value, int* length, char* reserved);
    // Sends at most `length` bytes (*sent may be less); QSM_E_WOULD_BLOCK in
    // non-blocking mode when nothing can be taken now. Never raises SIGPIPE.
    int QSM_Send(QSM_HANDLE handle, const char* bytes, int length, int flags, int* sent, char* reserved);
    // Receives at most `length` bytes; QSM_E_PEER_CLOSED when the peer has
    // closed (TLS close, end of stream, reset, or a TLS peer that went away
    // without its close); QSM_E_WOULD_BLOCK in non-blocking mode.
    int QSM_Recv(QSM_HANDLE handle, char* bytes, int length, int flags, int* received, char* reserved);
    // Waits until a handle of a set is ready (null timeout: without limit);
    // ready handles stay in their sets, the others are removed, *count is their
    // number. QSM_S_OK also when the time ran out (*count 0). A TLS handle with
    // decrypted bytes waiting, or a listener with a secured connection to hand
    // out, is readable at once.
    int QSM_Select(QSM_Handle_Set* readSet, QSM_Handle_Set* writeSet, QSM_Handle_Set* exceptSet,
                   const timeval* timeout, int* count, char** details);
    // QSM_S_OK when an entry has returned events, QSM_S_TIMEOUT when the time
    // ran out, QSM_E_INTERRUPTED when a signal interrupted the wait.
    int QSM_Poll(QSM_Pollfd* fds, int count, int milliseconds, char* reserved, char** details);
    // 0 while the connection is usable and idle: connected, the peer has not
    // closed (no end of stream, no TLS close), no error is pending and no
    // application byte waits unread (QSM_E_UNREAD_DATA: in the kernel's
    // receive queue or decrypted in the library; a TLS session ticket is not
    // application data). Costs one non-blocking peek at the receive queue.
    int QSM_SocketStatus(QSM_HANDLE handle, char* reserved);
    // The negotiated protocol and cipher ("TLSv1.3 TLS_AES_256_GCM_SHA384"),
    // or "plain" for a connection without TLS; freed with QSM_CryptoFree.
    int QSM_GetCipherInfo(QSM_HANDLE handle, char* reserved, char** details);
    // *resumed := 1 when the handshake of this secured connection resumed an
    // earlier session (client or accepted side), 0 when it ran in full or the
    // connection is plain or not secured yet.
    int QSM_IsSessionResumed(QSM_HANDLE handle, int* resumed, char* reserved);
    // For an event loop: the handle's descriptor, the poll() events it waits
    // for (POLLIN; POLLOUT too while a TLS step waits to write) and
    // *readyNow 1 when it can be read without waiting (decrypted bytes held).
    int QSM_GetDescriptor(QSM_HANDLE handle, int* fd, short* events, int* readyNow);
    // Sends a TLS close when the connection is secured (without waiting for
    // the peer's), closes the descriptor, frees the handle and sets it to null.
    int QSM_CloseHandle(QSM_HANDLE* handle, char* reserved, char** details);

    // The description of the last failure on `handle` (a null or closed
    // handle: the calling thread's last failure), a copy the caller frees with
    // QSM_CryptoFree; *details is null when there is none.
    int QSM_CryptoGetLastErrorDetails(QSM_HANDLE handle, char* reserved, char** details);
    void QSM_CryptoFree(void* text);
};

class SKARN_EXPORT VexCryptoSharedFactory {
public:
    static VexCrypto* getInstance();
};

#endif
