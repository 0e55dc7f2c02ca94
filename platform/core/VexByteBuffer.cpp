#include "platform/core/VexByteBuffer.h"

#include "platform/core/VexOutOfMemoryError.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

char* allocate(std::size_t bytes)
{
    char* p = static_cast<char*>(std::malloc(bytes));
    if (!p)
        VexOutOfMemoryError(0, nullptr).hurl(VEX_LOCATION, "VexByteBuffer::allocate", "VEX_THROW");
    return p;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

VexByteBuffer::VexByteBuffer(unsigned initialSize, unsigned growth)
    : m_data(nullptr), m_length(0), m_capacity(initialSize ? initialSize : 16), m_growth(growth ? growth : 16)
{
    m_data = allocate(std::size_t(m_capacity) + 1);
    m_data[0] = '\0';
}

VexByteBuffer::VexByteBuffer(const VexByteBuffer& other)
    : m_data(nullptr), m_length(other.m_length), m_capacity(other.m_length ? other.m_length : 16),
      m_growth(other.m_growth)
{
    m_data = allocate(std::size_t(m_capacity) + 1);
    std::memcpy(m_data, other.m_data, m_length);
    m_data[m_length] = '\0';
}

VexByteBuffer& VexByteBuffer::operator=(const VexByteBuffer& other)
{
    if (this != &other) {
        m_length = 0;
        append(other.m_data, other.m_length);
        m_growth = other.m_growth;
    }
    return *this;
}

VexByteBuffer::~VexByteBuffer() { std::free(m_data); }

void VexByteBuffer::ensure(std::size_t needed)
{
    if (needed <= m_capacity)
        return;
    const std::size_t limit = std::numeric_limits<unsigned>::max() - 1;
    if (needed > limit)
        VexOutOfMemoryError(0, nullptr).hurl(VEX_LOCATION, "VexByteBuffer::ensure", "VEX_THROW");
    std::size_t grown = std::size_t(m_capacity) + m_growth;
    if (grown < std::size_t(m_capacity) * 2)
        grown = std::size_t(m_capacity) * 2;
    if (grown < needed)
        grown = needed;
    if (grown > limit)
        grown = limit;
    char* p = static_cast<char*>(std::realloc(m_data, grown + 1));
    if (!p)
        VexOutOfMemoryError(0, nullptr).hurl(VEX_LOCATION, "VexByteBuffer::ensure", "VEX_THROW");
    m_data = p;
    m_capacity = static_cast<unsigned>(grown);
}

void VexByteBuffer::append(const char* data, unsigned length)
{
    if (!data || length == 0)
        return;
    ensure(std::size_t(m_length) + length);
    std::memmove(m_data + m_length, data, length);
    m_length += length;
    m_data[m_length] = '\0';
}

void VexByteBuffer::append(const char* text)
{
    if (text)
        append(text, static_cast<unsigned>(std::strlen(text)));
}

void VexByteBuffer::append(char c)
{
    ensure(std::size_t(m_length) + 1);
    m_data[m_length++] = c;
    m_data[m_length] = '\0';
}

char* VexByteBuffer::reserveTail(unsigned n)
{
    ensure(std::size_t(m_length) + n);
    return m_data + m_length;
}

void VexByteBuffer::commit(unsigned n)
{
    if (std::size_t(m_length) + n > m_capacity)
        n = m_capacity - m_length;
    m_length += n;
    m_data[m_length] = '\0';
}

void VexByteBuffer::setLength(unsigned n)
{
    if (n < m_length) {
        m_length = n;
        m_data[m_length] = '\0';
    }
}

void VexByteBuffer::trim()
{
    unsigned end = m_length;
    while (end > 0 && isBlank(m_data[end - 1]))
        --end;
    unsigned start = 0;
    while (start < end && isBlank(m_data[start]))
        ++start;
    if (start > 0)
        std::memmove(m_data, m_data + start, end - start);
    m_length = end - start;
    m_data[m_length] = '\0';
}
