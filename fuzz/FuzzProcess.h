#ifndef SKARN_FUZZ_PROCESS_H
#define SKARN_FUZZ_PROCESS_H

// The toolkit started once for a fuzz run, as a host does; helpers of the
// targets that read whole messages.
#include "api/SkarnProcess.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioInputStream.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (SkarnProcessInitialize("fuzz") != 0)
        std::abort();
    return 0;
}

// Reads `in` to its end in blocks whose sizes follow `pattern`.
inline std::string drainStream(QioInputStream& in, unsigned pattern)
{
    std::string out;
    char block[4096];
    for (unsigned step = 0;; ++step) {
        unsigned want = 1 + (pattern * 131 + step * 17) % sizeof block;
        unsigned n = in.read(block, want);
        if (n == QioInputStream::END)
            return out;
        out.append(block, n);
    }
}

#endif
