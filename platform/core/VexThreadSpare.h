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

// AddressSanitizer is on: g++ says so with __SANITIZE_ADDRESS__, clang (14 at
// least) only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define VEX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEX_ADDRESS_SANITIZER 1
#endif
#endif

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
        std::unique_ptr<T>& spare = slot();
        return spare ? std::move(spare) : std::unique_ptr<T>(new T());
    }
    static void give(std::unique_ptr<T> object)
    {
        std::unique_ptr<T>& spare = slot();
        if (!spare)
            spare = std::move(object);
    }

private:
    static std::unique_ptr<T>& slot()
    {
        thread_local std::unique_ptr<T> spare;
        return spare;
    }
};

// Class-level allocation from the thread's spare block: a class that
// declares VEX_THREAD_RECYCLED (and defines it in its unit with
// VEX_THREAD_RECYCLED_DEFINE) keeps the memory of a deleted object for the
// next `new` of that class on the same thread. Objects of derived classes
// (another size) go to the global allocator. Under AddressSanitizer every
// object gets fresh memory, so that a use after delete is still seen.
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
#ifndef VEX_ADDRESS_SANITIZER
        Block& spare = block();
        if (n == sizeof(T) && spare.p) {
            void* p = spare.p;
            spare.p = nullptr;
            return p;
        }
#endif
        return ::operator new(n);
    }
    static void release(void* p, std::size_t n) noexcept
    {
#ifndef VEX_ADDRESS_SANITIZER
        Block& spare = block();
        if (p && n == sizeof(T) && !spare.p) {
            spare.p = p;
            return;
        }
#endif
        ::operator delete(p);
    }

private:
    struct Block {
        void* p = nullptr;
        ~Block() { ::operator delete(p); }
    };
    static Block& block()
    {
        thread_local Block spare;
        return spare;
    }
};

#endif
