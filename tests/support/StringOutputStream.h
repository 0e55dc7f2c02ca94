#ifndef SKARN_TEST_STRING_OUTPUT_STREAM_H
#define SKARN_TEST_STRING_OUTPUT_STREAM_H

#include "platform/streams/QioOutputStream.h"

#include <string>
#include <vector>

// An output stream into memory for tests: keeps every byte and the size of
// each write() call, so a test can see how a message was cut into sends.
// failAt > 0 makes the failAt-th write raise QioIOException (a dead peer).
class StringOutputStream : public QioOutputStream {
public:
    void write(const char* bytes, unsigned length) override;

    const std::string& data() const { return m_data; }
    const std::vector<unsigned>& writes() const { return m_writes; }
    void clear() { m_data.clear(); m_writes.clear(); }
    void failAt(unsigned n) { m_failAt = n; }

private:
    std::string m_data;
    std::vector<unsigned> m_writes;
    unsigned m_failAt = 0;
};

#endif
