#include "session/SkrPropertyTable.h"

#include "platform/core/VexMacros.h"
#include "platform/core/VexThreadGuard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

SkrPropertyTable::SkrPropertyTable(std::initializer_list<const char*> keys) : m_lock(0)
{
    VEX_ASSERT(keys.size() <= MAX_KEYS);
    for (const char* key : keys)
        m_keys[m_keyCount++] = key;
}

std::size_t SkrPropertyTable::slotOf(const char* key, std::size_t length) const
{
    for (std::size_t i = 0; i < m_keyCount; ++i)
        if (std::strlen(m_keys[i]) == length && std::memcmp(m_keys[i], key, length) == 0)
            return i;
    return MAX_KEYS;
}

bool SkrPropertyTable::set(const std::string& key, const std::string& value)
{
    std::size_t slot = slotOf(key.data(), key.size());
    if (slot == MAX_KEYS)
        return false;
    VexThreadGuard guard(m_lock);
    m_values[slot] = value;
    m_isSet[slot] = true;
    return true;
}

bool SkrPropertyTable::get(const char* key, std::string& value)
{
    std::size_t slot = slotOf(key, std::strlen(key));
    if (slot == MAX_KEYS)
        return false;
    VexThreadGuard guard(m_lock);
    if (!m_isSet[slot])
        return false;
    value = m_values[slot];
    return true;
}

int SkrPropertyTable::getInt(const char* key, int otherwise)
{
    std::size_t slot = slotOf(key, std::strlen(key));
    if (slot == MAX_KEYS)
        return otherwise;
    VexThreadGuard guard(m_lock);
    return m_isSet[slot] ? std::atoi(m_values[slot].c_str()) : otherwise;
}

SkrPropertyTable::Transfer SkrPropertyTable::transfer()
{
    Transfer t{1, 0, false, {}};
    t.hasBoundary = get("boundary", t.boundary);
    if (getInt("send-content-length", 0) != 0)
        t.chunked = 0;
    else
        t.chunkSize = getInt("chunk-size", 0);
    return t;
}

std::string SkrPropertyTable::decimal(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}
