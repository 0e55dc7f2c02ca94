// The memory of a parser: freed blocks come back for the same sizes, what is
// kept stays within its budgets, and every block is aligned and usable. Under
// the sanitizers the pool keeps nothing.
#include "platform/dom/VexIDOM_BlockPool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

bool aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

TEST(BlockPool, FreedBlocksComeBackBySize)
{
    VexIDOM_BlockPool pool;
    const struct {
        const char* label;
        std::size_t size;
    } rows[] = {
        {"empty", 0},
        {"one byte", 1},
        {"one grain", 16},
        {"past a grain", 17},
        {"largest small", 1024},
        {"smallest large", 1025},
        {"a reader", 164032},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        void* a = pool.allocate(row.size);
        ASSERT_NE(nullptr, a);
        EXPECT_TRUE(aligned(a));
        std::memset(a, 0x5a, row.size);
        void* b = pool.allocate(row.size);
        EXPECT_NE(a, b);
        std::size_t before = pool.keptBytes();
        pool.deallocate(a);
        if (VexIDOM_BlockPool::KEEPS) {
            EXPECT_GT(pool.keptBytes(), before + row.size);
            EXPECT_EQ(a, pool.allocate(row.size));
            EXPECT_EQ(before, pool.keptBytes());
            pool.deallocate(a);
        } else {
            EXPECT_EQ(0u, pool.keptBytes());
        }
        pool.deallocate(b);
    }
    pool.deallocate(nullptr);
}

TEST(BlockPool, SizesShareOnlyTheirClass)
{
    if (!VexIDOM_BlockPool::KEEPS)
        GTEST_SKIP() << "the pool keeps nothing under the sanitizers";
    VexIDOM_BlockPool pool;
    void* small = pool.allocate(40);  // the class of 33 to 48 bytes
    void* large = pool.allocate(5000);
    pool.deallocate(small);
    pool.deallocate(large);
    void* bigger = pool.allocate(48 + 1);  // the next class
    EXPECT_NE(small, bigger);
    EXPECT_EQ(small, pool.allocate(33));
    void* other = pool.allocate(5040);  // a large block is taken back only at its own size
    EXPECT_NE(large, other);
    EXPECT_EQ(large, pool.allocate(4993));  // rounded to the same size as 5000
    pool.deallocate(bigger);
    pool.deallocate(other);
    pool.deallocate(large);
    pool.deallocate(small);
}

TEST(BlockPool, KeepsNoMoreThanItsBudgets)
{
    VexIDOM_BlockPool pool;
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < 2 * VexIDOM_BlockPool::SMALL_BUDGET / 64; ++i)
        blocks.push_back(pool.allocate(48));
    for (std::size_t i = 0; i < 2 * VexIDOM_BlockPool::LARGE_SLOTS; ++i)
        blocks.push_back(pool.allocate(VexIDOM_BlockPool::LARGE_BUDGET / VexIDOM_BlockPool::LARGE_SLOTS - 64));
    blocks.push_back(pool.allocate(VexIDOM_BlockPool::LARGE_BUDGET + 1));
    for (void* p : blocks)
        pool.deallocate(p);
    if (!VexIDOM_BlockPool::KEEPS) {
        EXPECT_EQ(0u, pool.keptBytes());
        return;
    }
    // Small: 1024 blocks of 64 bytes with their headers fill the budget
    // exactly; large: four blocks of 64 KiB less 48 bytes.
    EXPECT_EQ(VexIDOM_BlockPool::SMALL_BUDGET + VexIDOM_BlockPool::LARGE_BUDGET - 4 * 48, pool.keptBytes());
}

}  // namespace
