#ifndef QIO_PUSHBACK_H
#define QIO_PUSHBACK_H

#include <cstddef>
#include <string>

// Bytes given back to a stream with unread(), delivered before anything else.
// Internal to the stream layer.
class QioPushback {
public:
    bool empty() const { return m_pos >= m_bytes.size(); }
    std::size_t size() const { return m_bytes.size() - m_pos; }
    void clear()
    {
        m_bytes.clear();
        m_pos = 0;
    }
    // Next byte as 0..255; call only when not empty.
    int takeByte() { return static_cast<unsigned char>(m_bytes[m_pos++]); }
    // Up to `length` bytes into `buffer`; returns the count.
    unsigned take(char* buffer, unsigned length);
    // Puts `bytes` in front of what is still held.
    void push(const char* bytes, unsigned length);

private:
    std::string m_bytes;
    std::size_t m_pos = 0;
};

#endif
