#include "support/MemorySocket.h"

MemorySocket::MemorySocket(std::string input, unsigned maxRead) : m_in(*this, std::move(input), maxRead)
{
    markReusable();
}

MemorySocket::~MemorySocket() = default;
