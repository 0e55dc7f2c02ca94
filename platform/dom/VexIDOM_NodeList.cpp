#include "platform/dom/VexIDOM_NodeList.h"

#include <xercesc/dom/DOMNodeList.hpp>

unsigned VexIDOM_NodeList::getLength() const { return m_list ? static_cast<unsigned>(m_list->getLength()) : 0; }

VexIDOM_Node VexIDOM_NodeList::item(unsigned index) const
{
    return VexIDOM_Node(m_list ? m_list->item(index) : nullptr);
}
