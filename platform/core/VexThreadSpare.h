#ifndef VEX_THREAD_SPARE_H
#define VEX_THREAD_SPARE_H

// What one message grows (its objects, its buffers) a thread keeps for the
// next message it handles: the messages of a kept-alive connection, served or
// sent one after another on the same thread, then allocate nothing for them.
// Each thread keeps at most one spare of each kind; what it holds is freed
// when the thread ends.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

// The sanitizers must see every free: g++ says AddressSanitizer or
// ThreadSanitizer is on with __SANITIZE_ADDRESS__ / __SANITIZE_THREAD__,
// clang (14 at least) only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define VEX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define VEX_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEX_THREAD_SANITIZER 1
#endif
#endif
// Under either sanitizer a thread keeps nothing: what it handed back is freed
// at once and every take makes a new one, so that a use after free, or a
// race on memory a thread would have kept, is still seen.
#if defined(VEX_ADDRESS_SANITIZER) || defined(VEX_THREAD_SANITIZER)
#define VEX_THREAD_KEEPS_NOTHING 1
#endif

// The thread's one spare of a kind: the only place where a thread keeps
// something between uses. `Spare` is a movable value that owns what it holds,
// frees it when destroyed, is empty when default-made or moved from, and
// tests true when it holds something (a std::unique_ptr, say). `Kind` tells
// apart slots of one Spare type.
//
//   Spare s = VexThreadSlot<Spare>::takeIf(fits);    // the spare, when it fits; else empty
//   ... use, then empty what is not worth keeping ...
//   VexThreadSlot<Spare>::give(std::move(s));        // kept, or freed when one is kept
template <class Spare, class Kind = Spare>
class VexThreadSlot {
public:
    // The thread's spare when `fits(spare)` holds; otherwise an empty Spare,
    // and the spare stays.
    template <class Fits>
    static Spare takeIf(Fits fits)
    {
#ifndef VEX_THREAD_KEEPS_NOTHING
        Spare& spare = slot();
        if (spare && fits(static_cast<const Spare&>(spare)))
            return std::move(spare);
#endif
        (void)fits;
        return Spare();
    }
    static Spare take()
    {
        return takeIf([](const Spare&) { return true; });
    }
    // Keeps `given` when the thread holds no spare, or in place of the spare
    // when `better(given, spare)`; what is not kept is freed here.
    template <class Better>
    static void giveIf(Spare given, Better better)
    {
#ifndef VEX_THREAD_KEEPS_NOTHING
        Spare& spare = slot();
        if (given && (!spare || better(static_cast<const Spare&>(given), static_cast<const Spare&>(spare))))
            std::swap(spare, given);
#endif
        (void)given;
        (void)better;
    }
    static void give(Spare given)
    {
        giveIf(std::move(given), [](const Spare&, const Spare&) { return false; });
    }
    // Frees the thread's spare.
    static void drop() { slot() = Spare(); }

private:
    static Spare& slot()
    {
        thread_local Spare spare;
        return spare;
    }
};

// A thread's spare T, handed out whole. The giver empties it first (keeping
// its storage) and gives back only what is worth keeping, so that what a
// thread holds between messages stays bounded.
//
//   std::unique_ptr<Buffers> b = VexThreadSpare<Buffers>::take();   // the spare, or a new one
//   ... use, then empty ...
//   VexThreadSpare<Buffers>::give(std::move(b));                    // kept, or freed when one is kept
template <class T>
class VexThreadSpare {
public:
    static std::unique_ptr<T> take()
    {
        std::unique_ptr<T> spare = Slot::take();
        return spare ? std::move(spare) : std::unique_ptr<T>(new T());
    }
    static void give(std::unique_ptr<T> object) { Slot::give(std::move(object)); }

private:
    using Slot = VexThreadSlot<std::unique_ptr<T>>;
};

// Class-level allocation from the thread's spare block: a class that
// declares VEX_THREAD_RECYCLED (and defines it in its unit with
// VEX_THREAD_RECYCLED_DEFINE) keeps the memory of a deleted object for the
// next `new` of that class on the same thread. Objects of derived classes
// (another size) go to the global allocator. An installed header writes out
// the two operators instead, so that it need not include this internal one.
#define VEX_THREAD_RECYCLED                       \
    static void* operator new(std::size_t n);     \
    static void operator delete(void* p, std::size_t n) noexcept

#define VEX_THREAD_RECYCLED_DEFINE(T)                                                                   \
    void* T::operator new(std::size_t n) { return VexThreadRecycled<T>::allocate(n); }                 \
    void T::operator delete(void* p, std::size_t n) noexcept { VexThreadRecycled<T>::release(p, n); }

template <class T>
class VexThreadRecycled {
public:
    static void* allocate(std::size_t n)
    {
        if (n == sizeof(T)) {
            Block spare = Slot::take();
            if (spare)
                return spare.release();
        }
        return ::operator new(n);
    }
    static void release(void* p, std::size_t n) noexcept
    {
        if (p && n == sizeof(T))
            Slot::give(Block(p));
        else
            ::operator delete(p);
    }

private:
    // The memory of one deleted T.
    class Block {
    public:
        explicit Block(void* p = nullptr) : m_p(p) {}
        Block(Block&& other) noexcept : m_p(other.release()) {}
        Block& operator=(Block&& other) noexcept
        {
            std::swap(m_p, other.m_p);
            return *this;
        }
        ~Block() { ::operator delete(m_p); }
        explicit operator bool() const { return m_p != nullptr; }
        void* release() { return std::exchange(m_p, nullptr); }

    private:
        void* m_p;
    };
    using Slot = VexThreadSlot<Block, T>;
};

#endif
