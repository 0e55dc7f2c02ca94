#include "platform/core/VexMessageSet.h"

VexMessageSet::VexMessageSet(const VexMessageSet& other)
{
    m_messages.reserve(other.m_messages.size());
    for (const auto& m : other.m_messages)
        m_messages.emplace_back(m->clone());
}

VexMessageSet& VexMessageSet::operator=(const VexMessageSet& other)
{
    if (this != &other) {
        VexMessageSet copy(other);
        m_messages.swap(copy.m_messages);
    }
    return *this;
}

VexMessageSet::~VexMessageSet() = default;

void VexMessageSet::addMessage(const VexMessageBase& message)
{
    m_messages.emplace_back(message.clone());
}
