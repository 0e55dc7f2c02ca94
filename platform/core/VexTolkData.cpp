#include "platform/core/VexTolkData.h"

#include <cstdlib>

void VexTolkData::clear()
{
    m_id.clear();
    m_src.clear();
    m_srcSvc.clear();
    m_xmotva.clear();
    m_step = 0;
}

void VexTolkData::setTolkStep(const char* step) { m_step = step ? std::atoi(step) : 0; }
