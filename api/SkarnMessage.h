#ifndef SKARN_MESSAGE_H
#define SKARN_MESSAGE_H

#include "../platform/core/VexMessage.h"

// A message of the toolkit's catalogue "vexsktmsgs", by number. Parameters are
// attached with << VexMessageParm(...), in the order of the message's places.
// Only the destructor is its own; cloning, formatting and the rest are VexMessage's.
class SKARN_EXPORT SkarnMessage : public VexMessage {
public:
    explicit SkarnMessage(unsigned int number);
    ~SkarnMessage() override;
};

#endif
