#include "platform/core/VexFileLocation.h"

#include <cstring>

std::string VexFileLocation::getUnit() const
{
    const char* base = std::strrchr(m_file, '/');
    base = base ? base + 1 : m_file;
    const char* dot = std::strrchr(base, '.');
    return dot ? std::string(base, dot) : std::string(base);
}
