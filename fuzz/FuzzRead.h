#ifndef SKARN_FUZZ_READ_H
#define SKARN_FUZZ_READ_H

// The fuzzer's bytes as a body or socket stream, and a reader that takes a
// stream to its end through every kind of call it offers.
#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "support/MemoryInputStream.h"

#include <cstdint>
#include <string>

inline std::string bytesOf(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

// Reads `in` to its end, each call chosen by `mode` and the step: single bytes,
// blocks, buffer reads or lines (a readline answering 0 ends the reading too
// when `lineZeroEnds`: the multipart stream's end of a part). An answer that
// does not fit the call is a fault.
inline void readEveryWay(QioBufferedInputStream& in, unsigned mode, bool lineZeroEnds)
{
    VexByteBuffer buf(16, 16);
    char block[37];
    for (unsigned step = 0;; ++step) {
        const unsigned how = (mode + step) % 4;
        buf.reset();
        if (how == 0) {
            const int c = in.read();
            if (c == -1)
                return;
            if (c < 0 || c > 255)
                __builtin_trap();
        } else if (how == 1) {
            const unsigned n = in.read(block, 1 + step % sizeof block);
            if (n == QioInputStream::END)
                return;
            if (n > sizeof block)
                __builtin_trap();
        } else if (how == 2) {
            const unsigned n = in.read(buf, 1 + step % 100);
            if (n == QioInputStream::END)
                return;
            if (n != buf.length())
                __builtin_trap();
        } else {
            const int n = in.readline(buf);
            if (n < 0 || (n == 0 && lineZeroEnds))
                return;
        }
    }
}

#endif
