#include "session/SkrPropertyTable.h"

#include "platform/core/VexMacros.h"
#include "platform/core/VexThreadGuard.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

SkrPropertyTable::SkrPropertyTable(std::initializer_list<const char*> keys) : m_lock(0)
{
    VEX_ASSERT(keys.size() <= MAX_KEYS);
    for (const char* key : keys)
        m_keys[m_keyCount++] = key;
}

bool SkrPropertyTable::set(const std::string& key, const std::string& value)
{
    if (std::find(m_keys, m_keys + m_keyCount, key) == m_keys + m_keyCount)
        return false;
    VexThreadGuard guard(m_lock);
    m_map[key] = value;
    return true;
}

const char* SkrPropertyTable::get(const char* key)
{
    VexThreadGuard guard(m_lock);
    // A few entries: compared in place, without making a string of the key.
    for (const auto& entry : m_map)
        if (entry.first == key)
            return entry.second.c_str();
    return nullptr;
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
