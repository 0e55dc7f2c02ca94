#ifndef SKARN_SOCKET_H
#define SKARN_SOCKET_H

#include "../platform/core/SkarnExport.h"

#include <sys/socket.h>

#include <atomic>
#include <string>

class QioOutputStream;
class SkarnSocketInputStream;
class VexByteBuffer;

// One TCP connection, client or accepted: the peer's address and port, a time
// limit with a callback for blocking reads, a non-blocking flag, and the
// connection pool's bookkeeping (reusable flag, reuse counter, time stamp,
// pool key). Sessions read and write it only through its streams
// (getInputStream, getOutputStream), which call the implementation's
// ReadBuffer and WriteBuffer.
//
// Addresses are sockaddr_storage values in the system's layout, the port in
// network byte order inside them. Reserved families: 0xFFFF marks an
// unresolved address (every byte 0xFF), 0xFFFE an address not given (every
// other byte 0).
//
// Ownership: whoever obtained the socket (getSocket, the connection pool, a
// server socket's accept) owns it until release() or delete. The socket owns
// its two streams; references to them are valid while the socket lives.
// A socket is used by one thread at a time; only a cancel request on its input
// stream comes from another thread.
//
// Virtual operations, in slot order (the exported interface):
//   0 destructor
//   1 getIPAddress(VexByteBuffer&) const   appends the address as text
//   2 getIPAddress() const                 the stored address
//   3 getInputStream()  4 getOutputStream() the member streams (pure)
//   5-7 echo                               traffic copy to a file; not supported here
//   8-9 prepare                            set the target without connecting (pure)
//   10 setServerHostInfo                   not supported here
//   11-14 Open, open                       connect (pure)
//   15-16 setPoolKey, getPoolKey (pure)    17 isAlive (pure)
//   18 setTimeLimitCallback                19 isNonBlockingSocket
//   20 Close (pure)                        21 release
//   22 getTimeLimitSec   23-24 setTimestamp, getTimestamp   25 isReusable
//   26 disableReuse   27 resetReuseCounter   28 getReuseCounter   29 incReuseCounter
// Implementations add 30 ReadBuffer and 31 WriteBuffer.
// The bodies here that are "not supported" raise SkarnException errNotSupported
// (message 1841854490).
class SKARN_EXPORT SkarnSocket {
public:
    // Family values of the reserved addresses.
    enum { FAMILY_UNRESOLVED = 0xFFFF, FAMILY_NOT_GIVEN = 0xFFFE };
    // Address families of IPv4 and IPv6 connections.
    enum { FAMILY_IPV4 = AF_INET, FAMILY_IPV6 = AF_INET6 };

    // The one factory of sockets: `secure` 1 gives a socket over the
    // secure-socket library, any other value a plain TCP socket. With the
    // environment variable ZEV_SKT_NONBLOCKING present the socket is marked
    // non-blocking whatever `nonBlocking` says. Owned by the caller.
    // Raises VexOutOfMemoryError when the socket cannot be allocated.
    static SkarnSocket* getSocket(int secure, int nonBlocking);

    // Clears the callback, its argument, the reusable flag, the counter and
    // the non-blocking flag, and frees the key.
    virtual ~SkarnSocket();

    // Appends "255.255.255.255" for an unresolved address, else the numeric
    // text of the address ("127.0.0.1", "::1"); nothing for an address not given.
    virtual void getIPAddress(VexByteBuffer& text) const;
    virtual const sockaddr_storage& getIPAddress() const;

    virtual SkarnSocketInputStream& getInputStream() = 0;
    virtual QioOutputStream& getOutputStream() = 0;

    // Traffic echo into a file: not supported by this base.
    virtual void echo(std::string sFileName);
    virtual void echo(const char* sfilename);
    virtual void echo(const char* sfilename, const char* mode, int echo_rw);

    // Sets the target from a URL ("scheme://host[:port]/path"), or from a port
    // and an address (an unresolved address means the local machine).
    virtual void prepare(const char* url) = 0;
    virtual void prepare(int port, const sockaddr_storage& address) = 0;
    // The host that Open(int port) connects to; not supported by this base.
    virtual void setServerHostInfo(const char* host);

    // Connect. Nothing happens on a socket already connected. Failures raise
    // SkarnException (errSocket, errBadUrl, ...) as the implementation says.
    virtual void Open(const char* url, const char* sessionConfigDoc) = 0;
    virtual void Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc) = 0;
    virtual void Open(int port) = 0;
    virtual void open() = 0;

    virtual void setPoolKey(std::string key) = 0;
    virtual std::string getPoolKey() = 0;
    // 1 when the pool may hand the connection out again.
    virtual int isAlive() = 0;

    // Blocking reads that wait `seconds` without data call `callback(argument)`
    // and wait again; the callback ends the wait only by raising. Null clears it.
    virtual void setTimeLimitCallback(void (*callback)(void*), void* argument, int seconds);
    virtual int isNonBlockingSocket();

    // Back to unconnected; the socket can be opened again. Reports no error
    // unless the implementation says so.
    virtual void Close() = 0;
    // Ends the caller's ownership: a socket marked reusable goes to the
    // connection pool (stamped, its reuse counter increased), any other is
    // deleted. Do not use it afterwards.
    virtual void release();

    // Where release() sends a reusable socket. The connection pool sets it
    // when it is made (every reusable socket comes from a pool), so that
    // sockets need no knowledge of the layer above them; while none is set,
    // release() deletes the socket.
    using GiveBack = void (*)(SkarnSocket* socket);
    static void setGiveBack(GiveBack giveBack);

    virtual int getTimeLimitSec() const;
    virtual void setTimestamp(unsigned long long timestamp);
    virtual unsigned long long getTimestamp() const;
    virtual int isReusable() const;
    virtual void disableReuse();
    virtual void resetReuseCounter();
    virtual unsigned short getReuseCounter() const;
    // Counts one more use; 65535 wraps to 0.
    virtual void incReuseCounter();

    // For the connection pool only: marks a socket it created as reusable.
    void markReusable() { m_reusable = 1; }

    // What a connection was opened as, beyond its pool key: its transport
    // and the trust settings of its session document, as one text. The pool
    // hands a socket out only for a request of the same kind.
    void setPoolKind(std::string kind) { m_poolKind = std::move(kind); }
    const std::string& getPoolKind() const { return m_poolKind; }

    // The limits a client connection works under, set by the connection pool
    // from the session document each time it hands the socket out.
    struct Limits {
        int connectAttempts = 5;           // tries of a connect (at least 1)
        int connectRetryPauseSeconds = 2;  // pause between two tries
        int connectTimeoutSeconds = 0;     // one try's bound; 0: the system's
        int readTimeoutSeconds = 0;        // silence while a response is read; 0: none
        int responseTimeoutSeconds = 0;    // a whole response; 0: none
    };
    void setLimits(const Limits& limits) { m_limits = limits; }
    const Limits& getLimits() const { return m_limits; }

protected:
    // Port 0 and an unresolved address.
    SkarnSocket();
    SkarnSocket(int port, const sockaddr_storage& address);

    // An address of the given reserved family (0xFFFF: every byte 0xFF;
    // 0xFFFE: family set, every other byte 0).
    static sockaddr_storage reservedAddress(int family);

    void (*m_timeLimitCallback)(void*);
    void* m_timeLimitArgument;
    int m_timeLimitSec;
    int m_nPort;
    sockaddr_storage m_address;
    int m_nonBlocking;
    std::string m_poolKey;
    unsigned long long m_timestamp;
    int m_reusable;
    unsigned short m_reuseCounter;
    std::string m_poolKind;
    Limits m_limits;

private:
    SkarnSocket(const SkarnSocket&) = delete;
    SkarnSocket& operator=(const SkarnSocket&) = delete;
};

// The process-wide TCP_NODELAY switch: non-zero (the default) switches
// TCP_NODELAY on for every connection opened or accepted afterwards. The
// connection pool sets it from its configuration; sockets only read it.
extern std::atomic<int> skarnTcpNoDelay;

#endif
