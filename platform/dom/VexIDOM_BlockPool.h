#ifndef VEX_IDOM_BLOCK_POOL_H
#define VEX_IDOM_BLOCK_POOL_H

#include <xercesc/framework/MemoryManager.hpp>

#include <cstddef>

// The memory of one Xerces parser: blocks it frees are kept for the blocks it
// asks for next. Xerces makes and drops the same objects on every parse (the
// scanner's declaration of each element name met, the reader and its
// transcoder, hash entries), so a parser kept per thread then parses without
// calling malloc for them. Small blocks are kept by size class, up to
// SMALL_BUDGET bytes in all; up to LARGE_SLOTS larger ones (the reader, about
// 160 KiB) by their exact size, up to LARGE_BUDGET bytes in all. Under
// AddressSanitizer or ThreadSanitizer nothing is kept (VEX_THREAD_KEEPS_NOTHING),
// so that they see every free.
//
// Not thread-safe: the parser, and so its pool, is used by one thread at a
// time. Every block must be deallocated here before the pool goes, so nothing
// that outlives the parser may come from it.
class VexIDOM_BlockPool : public XERCES_CPP_NAMESPACE::MemoryManager {
public:
    VexIDOM_BlockPool() = default;
    ~VexIDOM_BlockPool() override;
    VexIDOM_BlockPool(const VexIDOM_BlockPool&) = delete;
    VexIDOM_BlockPool& operator=(const VexIDOM_BlockPool&) = delete;

    // Exceptions outlive the parse that throws them: Xerces' own memory.
    XERCES_CPP_NAMESPACE::MemoryManager* getExceptionMemoryManager() override;
    // A block of at least `size` bytes, aligned as malloc aligns; throws
    // OutOfMemoryException, as Xerces' own manager does.
    void* allocate(XMLSize_t size) override;
    // `p` null or from allocate() of this pool.
    void deallocate(void* p) override;

    static const std::size_t GRAIN = 16;
    static const std::size_t CLASSES = 64;  // small blocks: up to GRAIN * CLASSES bytes
    static const std::size_t SMALL_BUDGET = 64u << 10;
    static const std::size_t LARGE_SLOTS = 4;
    static const std::size_t LARGE_BUDGET = 256u << 10;
    // False under the sanitizers (see above).
    static const bool KEEPS;

    // What is kept for reuse, in bytes (headers included).
    std::size_t keptBytes() const { return m_smallBytes + m_largeBytes; }

private:
    // A kept large block of exactly `bytes` (header included), or null.
    void* takeLarge(std::size_t bytes);

    struct Free {
        Free* next;
    };

    Free* m_free[CLASSES] = {};
    std::size_t m_smallBytes = 0;
    void* m_large[LARGE_SLOTS] = {};  // kept large blocks, their headers in front
    std::size_t m_largeBytes = 0;
};

#endif
