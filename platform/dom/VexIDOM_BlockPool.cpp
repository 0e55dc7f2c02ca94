#include "platform/dom/VexIDOM_BlockPool.h"

#include "platform/core/VexThreadSpare.h"

#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdlib>

using namespace XERCES_CPP_NAMESPACE;

#ifdef VEX_THREAD_KEEPS_NOTHING
const bool VexIDOM_BlockPool::KEEPS = false;
#else
const bool VexIDOM_BlockPool::KEEPS = true;
#endif

namespace {

// In front of every block: its size with the header, padded so that what
// follows keeps malloc's alignment.
const std::size_t HEADER = 16;

std::size_t& sizeOf(void* block) { return *static_cast<std::size_t*>(block); }

}  // namespace

VexIDOM_BlockPool::~VexIDOM_BlockPool()
{
    for (Free* head : m_free) {
        while (head) {
            Free* next = head->next;
            std::free(reinterpret_cast<char*>(head) - HEADER);
            head = next;
        }
    }
    for (void* block : m_large)
        std::free(block);
}

MemoryManager* VexIDOM_BlockPool::getExceptionMemoryManager() { return XMLPlatformUtils::fgMemoryManager; }

void* VexIDOM_BlockPool::allocate(XMLSize_t size)
{
    std::size_t bytes = HEADER + (size == 0 ? GRAIN : (size + GRAIN - 1) / GRAIN * GRAIN);
    std::size_t cls = (bytes - HEADER) / GRAIN - 1;
    void* block = nullptr;
    if (cls < CLASSES && m_free[cls]) {
        Free* head = m_free[cls];
        m_free[cls] = head->next;
        m_smallBytes -= bytes;
        block = reinterpret_cast<char*>(head) - HEADER;
    } else if (cls >= CLASSES) {
        block = takeLarge(bytes);
    }
    if (!block) {
        block = std::malloc(bytes);
        if (!block)
            throw OutOfMemoryException();
    }
    sizeOf(block) = bytes;
    return static_cast<char*>(block) + HEADER;
}

void VexIDOM_BlockPool::deallocate(void* p)
{
    if (!p)
        return;
    void* block = static_cast<char*>(p) - HEADER;
    std::size_t bytes = sizeOf(block);
    std::size_t cls = (bytes - HEADER) / GRAIN - 1;
    if (KEEPS && cls < CLASSES && m_smallBytes + bytes <= SMALL_BUDGET) {
        Free* node = static_cast<Free*>(p);
        node->next = m_free[cls];
        m_free[cls] = node;
        m_smallBytes += bytes;
        return;
    }
    if (KEEPS && cls >= CLASSES && m_largeBytes + bytes <= LARGE_BUDGET) {
        for (void*& slot : m_large) {
            if (!slot) {
                slot = block;
                m_largeBytes += bytes;
                return;
            }
        }
    }
    std::free(block);
}

void* VexIDOM_BlockPool::takeLarge(std::size_t bytes)
{
    for (void*& slot : m_large) {
        if (slot && sizeOf(slot) == bytes) {
            void* block = slot;
            slot = nullptr;
            m_largeBytes -= bytes;
            return block;
        }
    }
    return nullptr;
}
