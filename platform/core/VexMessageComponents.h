#ifndef VEX_MESSAGE_COMPONENTS_H
#define VEX_MESSAGE_COMPONENTS_H

#include "VexMessageBase.h"
#include "VexMessageParm.h"

// A catalogue message that takes parameters with <<, in the order of its places.
class SKARN_EXPORT VexMessageComponents : public VexMessageBase {
public:
    ~VexMessageComponents() override;
    VexMessageComponents& operator<<(const VexMessageParm& parm);

protected:
    VexMessageComponents(const char* file, unsigned int number) : VexMessageBase(file, number) {}
};

#endif
