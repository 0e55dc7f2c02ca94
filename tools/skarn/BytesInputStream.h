#ifndef SKARN_TOOL_BYTES_INPUT_STREAM_H
#define SKARN_TOOL_BYTES_INPUT_STREAM_H

#include <skarn/platform/streams/QioInputStream.h>

#include <string>

// A stream over bytes the caller keeps alive: what the XML parser reads a
// file or a received envelope from.
class BytesInputStream : public QioInputStream {
public:
    explicit BytesInputStream(const std::string& bytes) : m_bytes(bytes) {}
    int read() override;
    unsigned read(char* buffer, unsigned length) override;
    unsigned read(VexByteBuffer& buffer, unsigned length) override;

private:
    const std::string& m_bytes;
    std::size_t m_pos = 0;
};

#endif
