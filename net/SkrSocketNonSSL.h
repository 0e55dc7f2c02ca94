#ifndef SKR_SOCKET_NON_SSL_H
#define SKR_SOCKET_NON_SSL_H

#include "net/SkarnSocket.h"
#include "net/SkrSocketNonSSLInputStream.h"
#include "net/SkrSocketNonSSLOutputStream.h"
#include "platform/core/I18NString.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/winsock/Winsock.h"

#include <cstdio>
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
// Echo: echo(name, mode, headers) copies every chunk read and written into
// "../logs/<pid>_<name>" (resolved against SKARN_HOME), with the markers
// "\n<read[n]>\n" and "\n<write[n]>\n" when headers are on (the flag, or the
// environment variable ZEV_SKT_ECHO_RW present), flushed after each record.
//
// Slots 30 ReadBuffer, 31 WriteBuffer, 32 setLastErrorText follow the base's.
class SkrSocketNonSSL : public SkarnSocket {
public:
    SkrSocketNonSSL();
    // Closes the echo file and the connection.
    ~SkrSocketNonSSL() override;

    SkarnSocketInputStream& getInputStream() override;
    QioOutputStream& getOutputStream() override;

    // Closes the current echo file; a non-empty name is opened as it is
    // (no directory or process number added) with mode "a+b"; failure raises
    // VexAssertError "VEX_ASSERT(m_fpEcho != NULL);". The headers flag stays.
    void echo(std::string sFileName) override;
    void echo(const char* sfilename) override;
    // Closes the current echo file, sets the headers flag to `echo_rw`; a
    // non-empty name opens echoPath(name) with effectiveEchoMode(mode). A file
    // that cannot be opened leaves echo off without a report.
    void echo(const char* sfilename, const char* mode, int echo_rw) override;

    // Parses the URL into port and address; does not close an open connection.
    // The port is the number after the host's colon (0 when no digits follow it).
    void prepare(const char* url) override;
    // Closes, then stores port and address (unresolved: the local machine).
    void prepare(int port, const sockaddr_storage& address) override;
    // Null stores "localhost".
    void setServerHostInfo(const char* host) override;

    void Open(const char* url, const char* sessionConfigDoc) override;
    void Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc) override;
    // Resolves the server host name; VexIllegalStateError when it does not resolve.
    void Open(int port) override;
    void open() override;

    void setPoolKey(std::string key) override;
    std::string getPoolKey() override;
    // 1 when the connection is open, the peer has not closed it and no byte
    // waits unread (given back to the input stream or in the receive queue).
    int isAlive() override;

    void Close() override;

    // Reads what one recv gives, at most `length` bytes, into `buffer` and
    // sets `received` (bytes given back to the input stream come first,
    // without a wait; Close() drops them); leaves `received` alone when the socket is not
    // connected or at its end. With a time-limit callback, each `limit`
    // seconds without data call it first (it raises to end the wait).
    virtual void ReadBuffer(char* buffer, unsigned int length, int* received);
    // Sends all `length` bytes (partial sends continue), counting them in
    // `written`; `length` at most INT_MAX.
    // Without a socket and with ZEV_SKT_NO_SOCKET present, counts them as sent.
    virtual void WriteBuffer(const char* buffer, unsigned int length, int* written);
    // Stores the text of WSAGetLastError() as the last error text.
    virtual void setLastErrorText();

    const I18NString& getLastErrorText() const { return m_lastErrorText; }

    // The text of a Winsock error number ("Connection refused" for 10061,
    // "Unknown error code" for a number not in the table).
    static const char* errorText(int wsaError);
    // The effective path of an echo file: "../logs/<pid>_<first 200 characters
    // of name>" resolved with VexFmDir::resolveEffectivePath.
    static std::string echoPath(const char* name);
    // `mode` when not empty; else ZEV_SKT_ECHO_MODE cut to 15 characters when
    // present and not empty; else "a+b".
    static std::string effectiveEchoMode(const char* mode);

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

    VexByteBuffer m_url;
    SOCKET m_ownSocket;
    std::string m_serverHost;
    I18NString m_lastErrorText;
    SOCKET m_commSocket;
    int m_endOfStream;
    SkrSocketNonSSLInputStream m_in;
    SkrSocketNonSSLOutputStream m_out;
    int m_connected;
    FILE* m_fpEcho;
    int m_echo;
};

#endif
