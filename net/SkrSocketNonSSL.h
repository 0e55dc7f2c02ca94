#ifndef SKR_SOCKET_NON_SSL_H
#define SKR_SOCKET_NON_SSL_H

#include "net/SkrSocketNonSSLInputStream.h"
#include "net/SkrSocketNonSSLOutputStream.h"
#include "net/SkrStreamSocket.h"
#include "platform/core/I18NString.h"
#include "platform/winsock/Winsock.h"

#include <climits>
#include <string>

// A plain TCP connection over the system's sockets. It always works in
// blocking mode (the non-blocking flag is only stored).
//
// Connecting: Open(url, ignored), Open(port, address, ignored), Open(port) to
// the host set with setServerHostInfo, or prepare(...) then open(). A refused
// or failed connect is tried getLimits().connectAttempts times (5),
// connectRetryPauseSeconds apart (2, VexThread::sleep), each attempt bounded
// by connectTimeoutSeconds when it is set; an interrupted one is completed. TCP_NODELAY is switched on when
// the process-wide switch skarnTcpNoDelay is on. After a failed connect the
// socket stays created and the object unconnected: Close() releases it, and
// so does the next Open before it creates a new one.
//
// Failures of socket, connect, the wait for data, recv and send raise
// SkarnException errSocket (message 1841392216) followed by the system's
// text for the Winsock error (errorText); a port outside 0..65535 given to
// Open raises it with "Invalid argument" before any socket is made. A URL
// without "://" raises errBadUrl (message 1841456247, parameters: the URL,
// "no ://"), a URL whose port is outside 0..65535 the same with "port out of
// range". Null buffers or counts, zero lengths and writes longer than INT_MAX
// (the count is an int) raise VexIllegalArgumentError.
//
// End of stream: a recv of 0 bytes or a connection reset by the peer; from
// then on reads deliver nothing, also after a new Open.
//
// What both sockets share (bytes given back, the echo file, the target's
// bookkeeping) is SkrStreamSocket's, their streams' code is
// SkrTransportInputStream's and SkrTransportOutputStream's: this class is the
// transport under them.
//
// Echo: echo(name, mode, headers) copies every chunk read and written into
// "../logs/<pid>_<name>" (resolved against SKARN_HOME), with the markers
// "\n<read[n]>\n" and "\n<write[n]>\n" when headers are on (the flag, or the
// environment variable ZEV_SKT_ECHO_RW present), flushed after each record.
//
// Slots 30 ReadBuffer and 31 WriteBuffer are SkrStreamSocket's; 32
// setLastErrorText follows them.
class SkrSocketNonSSL : public SkrStreamSocket {
public:
    SkrSocketNonSSL();
    // Closes the echo file and the connection.
    ~SkrSocketNonSSL() override;

    // WriteBuffer counts in an int: the output stream hands longer writes
    // over in pieces.
    static constexpr unsigned kWritePiece = static_cast<unsigned>(INT_MAX);

    SkarnSocketInputStream& getInputStream() override;
    QioOutputStream& getOutputStream() override;

    using SkrStreamSocket::prepare;
    // Parses the URL into port and address; does not close an open connection.
    // The port is the number after the host's colon (0 when no digits follow it).
    void prepare(const char* url) override;

    void Open(const char* url, const char* sessionConfigDoc) override;
    void Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc) override;
    // Resolves the server host name; VexIllegalStateError when it does not resolve.
    void Open(int port) override;
    void open() override;

    // 1 when the connection is open, the peer has not closed it and no byte
    // waits unread (given back to the input stream or in the receive queue).
    int isAlive() override;

    void Close() override;

    // Reads what one recv gives, at most `length` bytes, into `buffer` and
    // sets `received` (bytes given back to the input stream come first,
    // without a wait; Close() drops them); leaves `received` alone when the socket is not
    // connected or at its end. With a time-limit callback, each `limit`
    // seconds without data call it first (it raises to end the wait).
    void ReadBuffer(char* buffer, unsigned int length, int* received) override;
    // Sends all `length` bytes (partial sends continue), counting them in
    // `written`; `length` at most INT_MAX.
    // Without a socket and with ZEV_SKT_NO_SOCKET present, counts them as sent.
    void WriteBuffer(const char* buffer, unsigned int length, int* written) override;
    // Stores the text of WSAGetLastError() as the last error text.
    virtual void setLastErrorText();

    const I18NString& getLastErrorText() const { return m_lastErrorText; }

    // The text of a Winsock error number ("Connection refused" for 10061,
    // "Unknown error code" for a number not in the table).
    static const char* errorText(int wsaError);
    // The effective path of an echo file: "../logs/<pid>_<first 200 characters
    // of name>" resolved with VexFmDir::resolveEffectivePath.
    static std::string echoPath(const char* name);

protected:
    // Raises errSocket with the last error text from `function`.
    [[noreturn]] void raiseSocketError(const char* function);
    void setNoDelay();
    // A port outside 0..65535 raises errSocket "Invalid argument" before any
    // socket is made (it would otherwise be cut to 16 bits: another port).
    void checkPort(int port);
    // Connects the own socket to `address` (port already in it), five attempts.
    void connectOwnSocket(const sockaddr_storage& address);
    bool headersOn() const;

    SOCKET m_ownSocket;
    I18NString m_lastErrorText;
    SOCKET m_commSocket;
    SkrSocketNonSSLInputStream m_in;
    SkrSocketNonSSLOutputStream m_out;
    int m_connected;
};

#endif
