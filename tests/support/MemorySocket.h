#ifndef SKARN_TEST_MEMORY_SOCKET_H
#define SKARN_TEST_MEMORY_SOCKET_H

#include "net/SkarnSocket.h"
#include "net/SkarnSocketInputStream.h"
#include "support/MemoryInputStream.h"
#include "support/StringOutputStream.h"

#include <string>

// A socket without a network for writer and reader tests: what is written
// collects in an in-memory output stream, reads come from bytes given to the
// constructor (block reads capped at `maxRead` bytes when non-zero). It starts
// reusable, so a test sees disableReuse(). Read time-outs and cancel are the
// socket input stream's own (no callback ever fires: data never waits).
class MemorySocket : public SkarnSocket {
public:
    explicit MemorySocket(std::string input = std::string(), unsigned maxRead = 0);
    ~MemorySocket() override;

    SkarnSocketInputStream& getInputStream() override { return m_in; }
    QioOutputStream& getOutputStream() override { return m_out; }
    void prepare(const char*) override {}
    void prepare(int, const sockaddr_storage&) override {}
    void Open(const char*, const char*) override {}
    void Open(int, const sockaddr_storage&, const char*) override {}
    void Open(int) override {}
    void open() override {}
    void setPoolKey(std::string key) override { m_poolKey = key; }
    std::string getPoolKey() override { return m_poolKey; }
    int isAlive() override { return 1; }
    void Close() override {}

    StringOutputStream& output() { return m_out; }
    // The input bytes not read yet.
    std::string unread() const { return m_in.bytes.rest(); }

private:
    class Input : public SkarnSocketInputStream {
    public:
        Input(MemorySocket& owner, std::string data, unsigned maxRead) : bytes(std::move(data), maxRead, true), m_owner(owner) {}
        int read() override { return bytes.read(); }
        unsigned read(char* buffer, unsigned length) override { return bytes.read(buffer, length); }
        unsigned read(VexByteBuffer& buffer, unsigned length) override { return bytes.read(buffer, length); }
        // Bytes given back come first again (a buffered stream's read-ahead).
        int canUnread() override { return 1; }
        void unread(const char* data, unsigned length) override { bytes.unread(data, length); }
        SkarnSocket* getSocket() override { return &m_owner; }
        MemoryInputStream bytes;

    private:
        MemorySocket& m_owner;
    };

    Input m_in;
    StringOutputStream m_out;
};

#endif
