#ifndef VEX_BYTE_BUFFER_H
#define VEX_BYTE_BUFFER_H

#include "SkarnExport.h"

#include <cstddef>

// A growable byte buffer. The bytes are always followed by a NUL, so getData()
// can be used as a C string when the content holds no NUL of its own.
// Created with an initial size and a growth step; it grows by at least the
// step and at least doubles, so appends are amortised constant time.
// Allocation failure raises VexOutOfMemoryError.
class SKARN_EXPORT VexByteBuffer {
public:
    explicit VexByteBuffer(unsigned initialSize = 256, unsigned growth = 256);
    VexByteBuffer(const VexByteBuffer& other);
    VexByteBuffer& operator=(const VexByteBuffer& other);
    ~VexByteBuffer();

    void append(const char* data, unsigned length);
    void append(const char* text);  // a C string; null appends nothing
    void append(char c);

    // Room for `n` more bytes at the end; write them there, then commit(count).
    char* reserveTail(unsigned n);
    void commit(unsigned n);

    // Empties the buffer, keeping its storage.
    void reset() { setLength(0); }
    // Removes leading and trailing white space (blank, tab, CR, LF, VT, FF):
    // a header line loses its CR LF and surrounding blanks.
    void trim();
    void setLength(unsigned n);  // n <= length()

    unsigned length() const { return m_length; }
    unsigned capacity() const { return m_capacity; }
    unsigned getLength() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    const char* getData() const { return m_data; }
    char* getBuffer() { return m_data; }
    char charAt(unsigned i) const { return m_data[i]; }
    char operator[](unsigned i) const { return m_data[i]; }

private:
    void ensure(std::size_t needed);

    char* m_data;
    unsigned m_length;
    unsigned m_capacity;  // bytes available for content, the NUL excluded
    unsigned m_growth;
};

#endif
