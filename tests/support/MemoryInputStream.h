#ifndef SKARN_TEST_MEMORY_INPUT_STREAM_H
#define SKARN_TEST_MEMORY_INPUT_STREAM_H

#include "support/ReadStream.h"
#include "support/ViewInputStream.h"

#include <string>

namespace skarn_test {
struct OwnedBytes {
    std::string bytes;
};
}  // namespace skarn_test

// A stream over its own copy of bytes for tests (block reads capped at
// `maxRead` bytes when non-zero); it accepts unread when built with
// `unreadable`: bytes given back come first again.
class MemoryInputStream : private skarn_test::OwnedBytes, public ViewInputStream {
public:
    explicit MemoryInputStream(std::string data, unsigned maxRead = 0, bool unreadable = false)
        : OwnedBytes{std::move(data)}, ViewInputStream(bytes.data(), bytes.size(), maxRead), m_unreadable(unreadable) {}

    int canUnread() override { return m_unreadable ? 1 : 0; }
    void unread(const char* data, unsigned length) override
    {
        if (!m_unreadable)
            QioInputStream::unread(data, length);
        bytes.insert(m_pos, data, length);
        m_data = bytes.data();
        m_size = bytes.size();
    }
    // What is left unread.
    std::string rest() const { return bytes.substr(m_pos); }
    bool atEnd() const { return m_pos >= m_size; }

private:
    bool m_unreadable;
};

#endif
