#include "platform/core/VexMessageComponents.h"

VexMessageComponents::~VexMessageComponents() = default;

VexMessageComponents& VexMessageComponents::operator<<(const VexMessageParm& parm)
{
    m_parms.push_back(parm.getText());
    return *this;
}
