// Quoted-printable text from hostile bytes, read every way the stream offers.
#include "FuzzStream.h"

#include "mime/SkrQPInputStream.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexThrowable.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned mode = data[0];
    FuzzStream in(data + 1, size - 1, 0);
    SkrQPInputStream qp(in);
    VexByteBuffer buf(16, 16);
    char block[19];
    try {
        for (unsigned step = 0;; ++step) {
            unsigned how = (mode + step) % 4;
            if (how == 0) {
                int c = qp.read();
                if (c == -1)
                    break;
                if (c < 0 || c > 255)
                    __builtin_trap();
            } else if (how == 1) {
                unsigned n = qp.read(block, 1 + step % sizeof block);
                if (n == QioInputStream::END)
                    break;
                if (n > sizeof block)
                    __builtin_trap();
            } else if (how == 2) {
                unsigned n = qp.read(buf, 1 + step % 50);
                if (n == QioInputStream::END)
                    break;
                if (n != buf.length())
                    __builtin_trap();
            } else {
                if (qp.readline(buf) < 0)
                    break;
            }
        }
    } catch (const VexThrowable&) {
    }
    return 0;
}
