#include "http/SkrEnabledOutputStream.h"

#include "platform/core/VexFileLocation.h"
#include "platform/core/VexIllegalStateError.h"

SkrEnabledOutputStream::~SkrEnabledOutputStream()
{
    m_enabled = 0;
    m_target = nullptr;
}

void SkrEnabledOutputStream::write(const char* data, unsigned length)
{
    if (!m_enabled || !m_target)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION,
                  "[SkrEnabledOutputStream::write] - output stream not enabled (is this envelope or attachment closed?)",
                  "VEX_THROW");
    try {
        m_target->write(data, length);
    } catch (...) {
        if (m_onFailure)
            m_onFailure(m_failureContext);
        throw;
    }
}
