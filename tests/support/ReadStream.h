#ifndef SKARN_TEST_READ_STREAM_H
#define SKARN_TEST_READ_STREAM_H

// Reading a stream to its end in tests, on the public stream interface only
// (the host tests use it too).

#include "platform/streams/QioInputStream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The bytes of a stream up to its end or `limit`, read with block reads whose
// sizes cycle through `sizes`.
inline std::string readStream(QioInputStream& in, std::size_t limit = SIZE_MAX,
                              const std::vector<unsigned>& sizes = {16384})
{
    std::string out;
    std::vector<char> buf(*std::max_element(sizes.begin(), sizes.end()));
    for (std::size_t k = 0; out.size() < limit; ++k) {
        const std::size_t want = std::min<std::size_t>(sizes[k % sizes.size()], limit - out.size());
        const unsigned n = in.read(buf.data(), static_cast<unsigned>(want));
        if (n == QioInputStream::END)
            break;
        out.append(buf.data(), n);
    }
    return out;
}

// The same with block reads of `chunk` bytes.
inline std::string drain(QioInputStream& in, unsigned chunk = 4096) { return readStream(in, SIZE_MAX, {chunk}); }

#endif
