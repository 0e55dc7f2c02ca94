#ifndef SKARN_FUZZ_PROCESS_H
#define SKARN_FUZZ_PROCESS_H

// The toolkit started once for the run, as a host does, and a reader of
// streams for the targets that read whole messages.
#include "api/SkarnProcess.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/core/VexThrowable.h"
#include "platform/streams/QioInputStream.h"

// Objects a thread recycles would hide a use after delete from the
// sanitizer; the toolkit must see that this build runs under it.
#ifndef VEX_ADDRESS_SANITIZER
#error "AddressSanitizer is on but not seen: recycled objects would hide uses after delete"
#endif

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) { return SkarnProcessInitialize("fuzz") == 0 ? 0 : (std::abort(), 1); }

// `in` to its end, in blocks whose sizes follow `pattern`.
inline std::string drainStream(QioInputStream& in, unsigned pattern)
{
    std::string out;
    char block[4096];
    for (unsigned step = 0, n;; ++step) {
        if ((n = in.read(block, 1 + (pattern * 131 + step * 17) % sizeof block)) == QioInputStream::END)
            return out;
        out.append(block, n);
    }
}

#endif
