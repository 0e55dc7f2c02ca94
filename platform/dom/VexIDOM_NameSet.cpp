#include "platform/dom/VexIDOM_NameSet.h"

#include <algorithm>

void VexIDOM_NameSet::clear()
{
    m_text.clear();
    m_count = 0;
    if (++m_generation == 0) {  // wrapped: no slot may look current
        std::fill(m_slots.begin(), m_slots.end(), Slot{});
        m_generation = 1;
    }
}

bool VexIDOM_NameSet::add(const char16_t* name, std::size_t limit)
{
    std::size_t length = std::char_traits<char16_t>::length(name);
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i)
        hash = (hash ^ name[i]) * 16777619u;
    if (2 * (m_count + 1) > m_slots.size())
        grow();
    std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.generation != m_generation) {
            if (m_count >= limit)
                return false;
            slot = Slot{static_cast<std::uint32_t>(m_text.size()), hash, m_generation};
            m_text.append(name, length).push_back(u'\0');
            ++m_count;
            return true;
        }
        if (slot.hash == hash && m_text.compare(slot.at, length + 1, name, length + 1) == 0)
            return true;
    }
}

void VexIDOM_NameSet::grow()
{
    std::vector<Slot> old(m_slots.empty() ? 64 : 2 * m_slots.size());
    old.swap(m_slots);
    std::size_t mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
        if (slot.generation != m_generation)
            continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].generation == m_generation)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}
