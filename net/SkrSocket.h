#ifndef SKR_SOCKET_H
#define SKR_SOCKET_H

#include "net/SkrReadAhead.h"
#include "net/SkrSocketInputStream.h"
#include "net/SkrSocketOutputStream.h"
#include "net/SkrStreamSocket.h"
#include "platform/crypto/VexCrypto.h"

#include <climits>
#include <string>

// A TCP connection through the secure-socket library. Whether its traffic is
// encrypted is the library's decision, from the session configuration
// document (forceSSLStatus ON, or an "https" URL, means TLS).
//
// Client use: getSocket(1, nonBlocking), then Open(url, document) or
// Open(port, address, document), or prepare(...) then open(). The document
// is the caller's text; it must stay valid while the socket is opened. The
// library socket is made with the resolved address's family beside the
// document, whatever the document says. Connecting makes up to
// getLimits().connectAttempts attempts (5), connectRetryPauseSeconds apart (2,
// VexThread::sleep), each with a budget of five repeats for negotiation; a
// final failure of the library (-13) ends at once.
// A server socket's accepted connections are made with the handle
// constructor, already open.
//
// Modes: blocking (the default) waits for data inside the library, so the
// time-limit callback, and with it stream time-outs and cancel, never runs;
// a read while the input stream has response limits switches the socket to
// non-blocking mode for good.
// Non-blocking (the flag set before opening) reads through a receive buffer
// of the socket's SO_RCVBUF size, waits with QSM_Select (the time limit, or 3
// seconds when none, between calls of the callback) and writes in pieces of
// m_sendBufferSize (32768) bytes.
//
// Failures:
//   library not initialised        VexUnexpectedError "cannot open Crypto lib"
//   target not resolved, or QSM_Socket fails
//                                  URL: SkarnException errHostNotResolved (1842289512, the URL)
//                                  address: errNoAddress (1841617768, address text, port)
//                                  (plus QSM_Socket's status and its details text when it failed)
//   connect, QSM_Recv, QSM_Send, QSM_CloseHandle failures
//                                  SkarnException errSocket (1841392216) + the library's text
//   null or invalid document, port outside 1..65535, no handle for
//   TCP_NODELAY, FIONBIO refused   VexAssertError with the assertion text
//   Open(int)                      SkarnException errNotSupported
// A receive status of -12 is the peer's orderly close: the end of the stream.
//
// What both sockets share (bytes given back, the echo file, the target's
// bookkeeping) is SkrStreamSocket's, their streams' code is
// SkrTransportInputStream's and SkrTransportOutputStream's: this class is the
// transport under them.
//
// Echo: echo(name, mode, headers) copies traffic to "../logs/pid_<pid>_<name>";
// reads always with the marker "\n<read[%04d]>\n", writes with
// "\n<write[%d]>\n" only when headers are on (ZEV_SKT_ECHO_RW present at
// construction, or asked for; once on it stays on).
//
// Slots 30 ReadBuffer and 31 WriteBuffer are SkrStreamSocket's.
class SkrSocket : public SkrStreamSocket {
public:
    SkrSocket();
    // An accepted connection: open, with TCP_NODELAY switched on, and in
    // non-blocking mode when ZEV_SKT_NONBLOCKING is present. Owns `handle`.
    SkrSocket(void* handle, int port, const sockaddr_storage& address);
    // Closes the echo file and the connection (errors are not reported here).
    ~SkrSocket() override;

    // WriteBuffer takes any length in one call: the output stream hands
    // writes over whole.
    static constexpr unsigned kWritePiece = UINT_MAX;

    SkarnSocketInputStream& getInputStream() override;
    QioOutputStream& getOutputStream() override;

    using SkrStreamSocket::prepare;
    // Closes; the URL is resolved by the library at open(). The host of
    // setServerHostInfo is stored only, not used for connecting.
    void prepare(const char* url) override;

    void Open(const char* url, const char* sessionConfigDoc) override;
    void Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc) override;
    // Not supported: SkarnException errNotSupported.
    void Open(int port) override;
    void open() override;

    // 1 when the connection is open, the peer has not closed it and no byte
    // waits unread (given back to the input stream, held in the receive
    // buffer, or reported by QSM_SocketStatus): the pool hands out only
    // connections that stand at the start of the next answer.
    int isAlive() override;

    // Releases the library handle (null and not open afterwards, whatever
    // the result); a failure raises errSocket with the library's details.
    void Close() override;

    // Reads at most `length` bytes: bytes given back to the input stream
    // first, without waiting; `received` 0 at the end of the stream or when
    // the socket is not open. Close() drops bytes given back.
    void ReadBuffer(char* buffer, unsigned int length, int* received) override;
    // Sends all `length` bytes. Without a handle and with ZEV_SKT_NO_SOCKET
    // present, counts them as sent.
    void WriteBuffer(const char* buffer, unsigned int length, int* written) override;

    // For an event loop that holds the connection between requests.
    // Non-blocking mode from now on, without the receive buffer (reads go
    // straight to the caller's area), so that an idle connection costs no
    // buffer.
    void useNonBlocking();
    // Without waiting: bytes given back first, then what the library has;
    // the count, 0 when nothing waits, -1 at the end of the stream. Failures
    // raise errSocket as ReadBuffer's do.
    int receiveWaiting(char* buffer, int length);
    // Without waiting: sends what the connection takes now; the count.
    int sendWaiting(const char* buffer, int length);
    // The descriptor and the poll() events its next step waits for; readyNow
    // when bytes can be read without waiting. -1 when the socket is closed.
    int descriptor(short& events, bool& readyNow) const;
    // Bounds on writes: one wait for the peer to take bytes lasts at most
    // `silenceSeconds`, and over all waits since this call the peer must take
    // `minBytesPerSecond` once those waits reach `silenceSeconds` in all. A
    // write past either raises QioIOTimeoutException and writeTimedOut()
    // answers true. 0 seconds: no bounds.
    void setWriteLimits(int silenceSeconds, int minBytesPerSecond);
    bool writeTimedOut() const { return m_writeTimedOut; }
    // Bytes received from and sent to the wire since the socket was made.
    unsigned long long bytesReceived() const { return m_bytesIn; }
    unsigned long long bytesSent() const { return m_bytesOut; }

    // The effective path of an echo file: "../logs/pid_<pid>_<first 200
    // characters of name>" resolved with VexFmDir::resolveEffectivePath.
    static std::string echoPath(const char* name);

    // Test hook: the length in milliseconds of the second that waitForSocket
    // counts in (default 1000). Returns the previous length.
    static int setWaitUnitMillis(int milliseconds);

protected:
    // What SkrServerSocket uses for its listening handle.
    const char* m_sessionConfigDoc = nullptr;  // not owned
    VexCrypto* m_crypto;  // the process-wide library, taken first at construction
    void* m_hQSMSocket;
    int m_open = 0;
    SkrSocketInputStream m_in;
    SkrSocketOutputStream m_out;
    SkrReadAhead m_readAhead;  // non-blocking mode's receive buffer
    int m_sendBufferSize = 32768;
    unsigned long long m_bytesIn = 0, m_bytesOut = 0;
    int m_writeSilenceMillis = 0;  // write limits: 0 off
    int m_writeMinRate = 0;
    long long m_writeBlockedMillis = 0;  // waits for the peer since the limits were set
    unsigned long long m_writeBytes = 0;  // bytes sent since the limits were set
    bool m_writeTimedOut = false;

private:
    bool validateSessionDocument();
    void internalWriteBuffer(const char* buffer, int length, int* written);
    int waitForSocket(int forWrite);
    int waitWritable();  // waitForSocket(1) under the write limits
    int receiveBuffered(char* buffer, int length, int* received);
    // QSM_Recv into `buffer`, waiting while it would block; its status.
    int receiveWaitingFor(char* buffer, int length, int* received);
    void setNoDelay();
    void allocateReceiveBuffer();
    void setNonBlocking();
    void connectLoop(const char* url, const sockaddr_storage& target);
    [[noreturn]] void raiseCryptoError(const char* call, int status, const char* function);
    void echoRead(const char* buffer, int n);
    void echoWrite(const char* buffer, int n, bool bytesOnlyWhenHeaders);
};

#endif
