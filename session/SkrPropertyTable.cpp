#include "session/SkrPropertyTable.h"

#include "platform/core/VexThreadGuard.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

bool SkrPropertyTable::set(const std::string& key, const std::string& value)
{
    if (std::find(m_keys.begin(), m_keys.end(), key) == m_keys.end())
        return false;
    VexThreadGuard guard(m_lock);
    m_map[key] = value;
    return true;
}

const char* SkrPropertyTable::get(const char* key)
{
    VexThreadGuard guard(m_lock);
    auto it = m_map.find(key);
    return it == m_map.end() ? nullptr : it->second.c_str();
}

SkrPropertyTable::Transfer SkrPropertyTable::transfer()
{
    Transfer t{1, 0, get("boundary")};
    const char* sendLength = get("send-content-length");
    if (sendLength && std::atoi(sendLength) != 0)
        t.chunked = 0;
    else if (const char* size = get("chunk-size"))
        t.chunkSize = std::atoi(size);
    return t;
}

std::string SkrPropertyTable::decimal(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}
