#include "net/SkrReadAhead.h"

#include "platform/core/VexOutOfMemoryError.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

SkrReadAhead::~SkrReadAhead() { release(); }

void SkrReadAhead::allocate(int size)
{
    release();
    m_buffer = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)));
    if (!m_buffer)
        VexOutOfMemoryError(0, nullptr).hurl(VEX_LOCATION, nullptr, "VEX_THROW");
    m_size = size;
}

void SkrReadAhead::release()
{
    std::free(m_buffer);
    m_buffer = nullptr;
    m_size = 0;
    m_held = 0;
}

int SkrReadAhead::take(char* buffer, int length)
{
    const int n = m_held < length ? m_held : length;
    if (n <= 0)
        return 0;
    std::memcpy(buffer, m_buffer, static_cast<std::size_t>(n));
    std::memmove(m_buffer, m_buffer + n, static_cast<std::size_t>(m_held - n));
    m_held -= n;
    return n;
}
