#ifndef SKARN_TEST_MEMORY_INPUT_STREAM_H
#define SKARN_TEST_MEMORY_INPUT_STREAM_H

#include "platform/streams/QioInputStream.h"

#include <string>

// A stream over bytes in memory for tests. `maxRead` caps what one block read
// delivers (1 feeds a parser byte by byte); 0 means no cap. It counts the
// reads it served, and accepts unread when built with `unreadable`.
class MemoryInputStream : public QioInputStream {
public:
    explicit MemoryInputStream(std::string data, unsigned maxRead = 0, bool unreadable = false)
        : m_data(std::move(data)), m_maxRead(maxRead), m_unreadable(unreadable) {}

    int read() override;
    unsigned read(char* buffer, unsigned length) override;
    unsigned read(VexByteBuffer& buffer, unsigned length) override;
    int canUnread() override { return m_unreadable ? 1 : 0; }
    void unread(const char* bytes, unsigned length) override;

    // What is left unread.
    std::string rest() const { return m_data.substr(m_pos); }
    unsigned reads() const { return m_reads; }

private:
    std::string m_data;
    std::size_t m_pos = 0;
    unsigned m_maxRead;
    bool m_unreadable;
    unsigned m_reads = 0;
};

// Reads a stream to its end with block reads of `chunk` bytes.
std::string drain(QioInputStream& in, unsigned chunk = 4096);

#endif
