#ifndef SKARN_TOOL_WATCHED_SOCKET_H
#define SKARN_TOOL_WATCHED_SOCKET_H

#include "net/SkarnSocket.h"
#include "net/SkarnSocketInputStream.h"
#include "platform/streams/QioOutputStream.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>

// A connection as the tool's sessions see it: the toolkit's socket inside
// (owned), with the time limits the tool promises laid over its reads, byte
// counts both ways (the server side of the tool).
//
// The inner socket reads with a time-out of one second (it must work in
// non-blocking mode for that, see ZEV_SKT_NONBLOCKING); each second of
// silence the limits are looked at again:
//   idle     before the first byte of the message awaited: the connection
//            has said nothing for that long (and, with the stop flag set,
//            at once: a stopping server closes idle connections)
//   silence  any one read has waited that long
//   message  the message's first byte came that long ago (a client that
//            trickles its request)
// A limit that passes raises QioIOTimeoutException; expiry() says which. The
// message readers of the toolkit reset time-outs on the stream they read, so
// the limits live here, where those resets do not reach.
class WatchedSocket : public SkarnSocket {
public:
    enum Expiry { NotExpired, Idle, Silence, Message, Stopped };
    struct Limits {
        int idleSeconds = 0;  // 0: no limit, for each of the three
        int silenceSeconds = 0;
        int messageSeconds = 0;
        const std::atomic<bool>* stop = nullptr;
    };

    WatchedSocket(SkarnSocket* inner, const Limits& limits);
    ~WatchedSocket() override;

    // A new message is awaited (or written): the clocks and head copies restart.
    void expectMessage();
    // Reads answer the end of the stream from now on: after a failure, the
    // readers' clean-up must not wait for the rest of a message.
    void stopReading() { m_readsStopped = true; }
    // Reads and drops what the peer still sends, until it stops for a
    // second, closes, or `limit` bytes went: a connection closed with unread
    // bytes is reset, and the peer could lose the answer it was sent.
    void discardInput(unsigned long long limit);
    Expiry expiry() const { return m_expiry; }
    bool messageStarted() const { return m_firstByte != Clock::time_point(); }
    unsigned long long bytesIn() const { return m_bytesIn; }
    unsigned long long bytesOut() const { return m_bytesOut; }
    SkarnSocket& inner() { return *m_inner; }

    void getIPAddress(VexByteBuffer& text) const override;
    const sockaddr_storage& getIPAddress() const override;
    SkarnSocketInputStream& getInputStream() override { return m_in; }
    QioOutputStream& getOutputStream() override { return m_out; }
    void prepare(const char* url) override;
    void prepare(int port, const sockaddr_storage& address) override;
    void Open(const char* url, const char* sessionConfigDoc) override;
    void Open(int port, const sockaddr_storage& address, const char* sessionConfigDoc) override;
    void Open(int port) override;
    void open() override;
    void setPoolKey(std::string key) override { m_poolKey = std::move(key); }
    std::string getPoolKey() override { return m_poolKey; }
    int isAlive() override;
    void Close() override;

private:
    using Clock = std::chrono::steady_clock;

    class Input : public SkarnSocketInputStream {
    public:
        explicit Input(WatchedSocket& owner) : m_owner(owner) {}
        int read() override;
        unsigned read(char* buffer, unsigned length) override;
        unsigned read(VexByteBuffer& buffer, unsigned length) override { return readAppending(buffer, length); }
        // Bytes given back (a reader's read-ahead) come first again.
        void unread(const char* bytes, unsigned length) override { m_owner.m_held.insert(0, bytes, length); }
        SkarnSocket* getSocket() override { return &m_owner; }

    private:
        WatchedSocket& m_owner;
    };
    class Output : public QioOutputStream {
    public:
        explicit Output(WatchedSocket& owner) : m_owner(owner) {}
        void write(const char* bytes, unsigned length) override;
        void flush() override { m_owner.m_inner->getOutputStream().flush(); }

    private:
        WatchedSocket& m_owner;
    };

    unsigned readInner(char* buffer, unsigned length);
    void checkLimits(Clock::time_point waitStart);

    SkarnSocket* m_inner;
    Limits m_limits;
    Input m_in{*this};
    Output m_out{*this};
    Expiry m_expiry = NotExpired;
    bool m_readsStopped = false;
    Clock::time_point m_messageStart = Clock::now(), m_firstByte{};
    unsigned long long m_bytesIn = 0, m_bytesOut = 0;
    std::string m_held;  // bytes given back to the input stream
};

#endif
