#ifndef VEX_MESSAGE_SET_H
#define VEX_MESSAGE_SET_H

#include "VexMessageBase.h"

#include <memory>
#include <vector>

// An ordered list of messages; each added message is copied (cloned) in.
class SKARN_EXPORT VexMessageSet {
public:
    VexMessageSet() = default;
    VexMessageSet(const VexMessageSet& other);
    VexMessageSet& operator=(const VexMessageSet& other);
    virtual ~VexMessageSet();

    void addMessage(const VexMessageBase& message);
    std::size_t getMessageCount() const { return m_messages.size(); }
    const VexMessageBase& getMessageAt(std::size_t i) const { return *m_messages.at(i); }
    void clearMessages() { m_messages.clear(); }

private:
    std::vector<std::unique_ptr<VexMessageBase>> m_messages;
};

#endif
