#ifndef VEX_MESSAGE_H
#define VEX_MESSAGE_H

#include "VexMessageComponents.h"

// A message of a named catalogue file, by number.
class SKARN_EXPORT VexMessage : public VexMessageComponents {
public:
    VexMessage(const char* file, unsigned int number) : VexMessageComponents(file, number) {}
    ~VexMessage() override;
    VexMessageBase* clone() const override { return new VexMessage(*this); }
    const char* getClassName() const override { return "VexMessage"; }
};

#endif
