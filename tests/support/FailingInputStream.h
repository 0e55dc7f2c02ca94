#ifndef SKARN_TEST_FAILING_INPUT_STREAM_H
#define SKARN_TEST_FAILING_INPUT_STREAM_H

#include "platform/core/VexFileLocation.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/MemoryInputStream.h"

// Delivers `data` as MemoryInputStream does, then, instead of reporting its
// end, raises QioIOTimeoutException(0) as a socket stream does when its time
// limit passes.
class FailingInputStream : public MemoryInputStream {
public:
    explicit FailingInputStream(std::string data, unsigned maxRead = 0) : MemoryInputStream(std::move(data), maxRead) {}

    int read() override { return failAtEnd(1), MemoryInputStream::read(); }
    unsigned read(char* buffer, unsigned length) override { return failAtEnd(length), MemoryInputStream::read(buffer, length); }
    using MemoryInputStream::read;  // the buffer read goes through read(char*)

private:
    void failAtEnd(unsigned length)
    {
        if (length && atEnd())
            QioIOTimeoutException(0).hurl(VexFileLocation("FailingInputStream", 0), "FailingInputStream::read", "VEX_THROW");
    }
};

#endif
