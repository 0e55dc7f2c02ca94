#ifndef VEX_CRYPTO_H
#define VEX_CRYPTO_H

#include "platform/core/SkarnExport.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cstdint>

// The secure-socket library: one process-wide VexCrypto (from
// VexCryptoSharedFactory::getInstance) whose QSM_ calls work on opaque socket
// handles. Every QSM_ call returns QSM_S_OK (0) on success or a negative
// status; its plain `char* reserved` argument is always null. Texts handed out
// through `char** details` belong to the caller, who frees them with QSM_CryptoFree.
//
// Whether a handle's traffic is encrypted is decided by the session
// configuration document given to QSM_Socket (root <sessionConfigDocument>).

typedef void* QSM_HANDLE;

enum {
    QSM_S_OK = 0,
    QSM_E_PEER_CLOSED = -12,       // QSM_Recv: the peer closed the connection in order
    QSM_E_FAILED = -13,            // QSM_Connect: final failure, do not retry
    QSM_E_NEGOTIATE = -15,         // connect/accept: call QSM_EstablishSecure
    QSM_E_WOULD_BLOCK = -23,       // non-blocking: call again later
};

// Option numbers of QSM_SetSockOpt / QSM_GetSockOpt (no level).
enum {
    QSM_TCP_NODELAY = 1,
    QSM_SO_REUSEADDR = 4,
    QSM_SO_SNDBUF = 0x1001,
    QSM_SO_RCVBUF = 0x1002,
};
static const unsigned long QSM_FIONBIO = 0x8004667EUL;

// Up to 64 handles for QSM_Select; a ready handle stays in its set.
struct QSM_Handle_Set {
    std::uint32_t count;
    QSM_HANDLE handles[64];
};

// QSM_Poll: events 0x0300 asks for readability.
struct QSM_Pollfd {
    QSM_HANDLE handle;
    std::uint16_t events;
    std::uint16_t revents;
};
enum { QSM_POLL_READABLE = 0x0300 };

class SKARN_EXPORT VexCrypto {
public:
    // Process start and stop ("QSM_Crypto_Interface"); isOpen() is non-zero in between.
    static int initialize(const char* interfaceName);
    static void terminate();
    static int isOpen();

    int QSM_Socket(QSM_HANDLE* handle, const char* sessionConfigDoc, char* reserved, char** details);
    int QSM_Connect(QSM_HANDLE handle, const sockaddr_storage* address, int length, char* reserved);
    int QSM_Connect_Url(QSM_HANDLE handle, const char* url, char* reserved);
    int QSM_EstablishSecure(QSM_HANDLE handle, char* reserved);
    int QSM_Accept(QSM_HANDLE listener, QSM_HANDLE* accepted, sockaddr_storage* address, int* length, char* reserved);
    int QSM_Bind(QSM_HANDLE handle, const sockaddr_storage* address, int length, char* reserved);
    int QSM_Listen(QSM_HANDLE handle, int backlog, char* reserved);
    int QSM_GetSockName(QSM_HANDLE handle, sockaddr_storage* address, int* length, char* reserved);
    int QSM_SetSockOpt(QSM_HANDLE handle, unsigned long option, const void* value, int length, char* reserved);
    int QSM_GetSockOpt(QSM_HANDLE handle, unsigned long option, void* value, int* length, char* reserved);
    int QSM_Send(QSM_HANDLE handle, const char* bytes, int length, int flags, int* sent, char* reserved);
    int QSM_Recv(QSM_HANDLE handle, char* bytes, int length, int flags, int* received, char* reserved);
    int QSM_Select(QSM_Handle_Set* readSet, QSM_Handle_Set* writeSet, QSM_Handle_Set* exceptSet,
                   const timeval* timeout, int* count, char** details);
    int QSM_Poll(QSM_Pollfd* fds, int count, int milliseconds, char* reserved, char** details);
    int QSM_SocketStatus(QSM_HANDLE handle, char* reserved);
    int QSM_CloseHandle(QSM_HANDLE* handle, char* reserved, char** details);

    // The description of the last failure on `handle` (null: none), a copy
    // the caller frees with QSM_CryptoFree.
    int QSM_CryptoGetLastErrorDetails(QSM_HANDLE handle, char* reserved, char** details);
    void QSM_CryptoFree(void* text);
};

class SKARN_EXPORT VexCryptoSharedFactory {
public:
    static VexCrypto* getInstance();
};

#endif
