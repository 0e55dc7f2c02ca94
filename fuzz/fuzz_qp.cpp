// Quoted-printable text from hostile bytes, read every way the stream offers.
#include "FuzzRead.h"

#include "mime/SkrQPInputStream.h"
#include "platform/core/VexThrowable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    MemoryInputStream in(bytesOf(data + 1, size - 1));
    SkrQPInputStream qp(in);
    try {
        readEveryWay(qp, data[0], false);
    } catch (const VexThrowable&) {
    }
    return 0;
}
