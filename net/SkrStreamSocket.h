#ifndef SKR_STREAM_SOCKET_H
#define SKR_STREAM_SOCKET_H

#include "net/SkarnSocket.h"
#include "platform/core/VexByteBuffer.h"

#include <cstdio>
#include <string>

// What the plain and the secure socket share above their byte transport:
// the target's bookkeeping (URL, server host, pool key), the bytes given back
// to the input stream that a read serves before the transport, the end of
// the stream and the echo file. What differs stays in each socket: making,
// connecting and closing the connection, waiting, receiving and sending
// (system calls in SkrSocketNonSSL, the secure-socket library in SkrSocket),
// all behind ReadBuffer and WriteBuffer, which the socket's streams call.
//
//   SkrSocketInputStream ─┐                 ┌─ SkrSocketNonSSLInputStream
//   SkrSocketOutputStream ┤ (stream code    ├─ SkrSocketNonSSLOutputStream
//                         │  written once)  │
//                         ▼                 ▼
//                     SkrSocket ─┐   ┌─ SkrSocketNonSSL
//                                ▼   ▼
//                           SkrStreamSocket ──> SkarnSocket
//
// Each socket owns its pair of named streams; their code is
// SkrTransportInputStream's and SkrTransportOutputStream's.
//
// Echo: echo(name, mode, headers) copies traffic to
// "../logs/<prefix><pid>_<name>"; each socket writes its records, with its
// own markers, through echoRecord.
//
// Slots 30 ReadBuffer and 31 WriteBuffer follow SkarnSocket's.
class SkrStreamSocket : public SkarnSocket {
public:
    // Closes the echo file.
    ~SkrStreamSocket() override;

    // Closes the current echo file; a non-empty name is opened as it is (no
    // directory or process number added) with mode "a+b"; failure raises
    // VexAssertError "VEX_ASSERT(m_fpEcho != NULL);". The headers flag stays.
    void echo(std::string sFileName) override;
    // echo(sfilename, nullptr, 0).
    void echo(const char* sfilename) override;
    // Closes the current echo file and sets the headers flag to `echo_rw`
    // (with headersStay: turns it on when `echo_rw` is non-zero, never off);
    // a non-empty name opens echoFilePath(prefix, name) with
    // effectiveEchoMode(mode). A file that cannot be opened leaves echo off
    // without a report.
    void echo(const char* sfilename, const char* mode, int echo_rw) override;

    using SkarnSocket::prepare;
    // Closes, then stores port and address (unresolved: the local machine).
    void prepare(int port, const sockaddr_storage& address) override;
    // Null stores "localhost".
    void setServerHostInfo(const char* host) override;

    void setPoolKey(std::string key) override;
    std::string getPoolKey() override;

    // What the streams call; see each socket.
    virtual void ReadBuffer(char* buffer, unsigned int length, int* received) = 0;
    virtual void WriteBuffer(const char* buffer, unsigned int length, int* written) = 0;

    // The effective path of an echo file: "../logs/<prefix><pid>_<first 200
    // characters of name>" resolved with VexFmDir::resolveEffectivePath.
    static std::string echoFilePath(const char* prefix, const char* name);
    // `mode` when not empty; else ZEV_SKT_ECHO_MODE cut to 15 characters when
    // present and not empty; else "a+b".
    static std::string effectiveEchoMode(const char* mode);

protected:
    // `echoPrefix` (a literal) goes in front of the process number in echo
    // file names; with `echoHeadersStay` the headers flag, once on, stays on.
    SkrStreamSocket(int port, const sockaddr_storage& address, const char* echoPrefix, bool echoHeadersStay);

    // Bytes given back to the input stream come first, without a wait (they
    // were echoed when they were received): true when some were held, their
    // count (at most `length`, at most INT_MAX) in `received`.
    bool takeGivenBack(char* buffer, unsigned length, int* received);

    // One record of the echo file, when one is open: the marker (printf
    // `format` with `count`; none when null), the `n` bytes (none when n <= 0),
    // then a flush so that the file is complete after every record.
    void echoRecord(const char* format, int count, const char* bytes, int n);
    void closeEcho();

    // VexIllegalArgumentError from `function` (null buffers and counts).
    [[noreturn]] static void raiseIllegalArgument(const char* function);
    // The address with `port` in network byte order.
    static sockaddr_storage withPort(const sockaddr_storage& address, int port);

    VexByteBuffer m_url{64, 256};
    std::string m_serverHost;
    int m_endOfStream = 0;
    FILE* m_fpEcho = nullptr;
    int m_echo = 0;  // the headers flag

private:
    const char* m_echoPrefix;
    bool m_echoHeadersStay;
};

#endif
