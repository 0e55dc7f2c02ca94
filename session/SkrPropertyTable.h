#ifndef SKR_PROPERTY_TABLE_H
#define SKR_PROPERTY_TABLE_H

#include "platform/core/VexThreadCriticalSection.h"

#include <cstddef>
#include <initializer_list>
#include <string>

// The property table of the factory and of both sessions: a text value for
// each key its owner lists (compared case-sensitively, as whole strings),
// under a lock of its own. Numbers are kept as decimal text and read back
// with atoi. The owner raises its own error for a refused key, so that the
// failure names the owner's unit. Each listed key has its slot from the
// start: setting a short value allocates nothing.
class SkrPropertyTable {
public:
    // `keys`: literals, at most MAX_KEYS of them.
    explicit SkrPropertyTable(std::initializer_list<const char*> keys);
    SkrPropertyTable(const SkrPropertyTable&) = delete;
    SkrPropertyTable& operator=(const SkrPropertyTable&) = delete;

    // Stores (or replaces) the value; false, and nothing stored, for a key not listed.
    bool set(const std::string& key, const std::string& value);
    // Copies the value into `value` under the lock (another thread may set
    // the key at any time); false, and `value` untouched, when unset.
    bool get(const char* key, std::string& value);
    // atoi of the value, or `otherwise` when unset.
    int getInt(const char* key, int otherwise);

    // The message writer's transfer mode from "send-content-length", "chunk-size" and "boundary":
    // a content length when "send-content-length" is non-zero, else chunks of "chunk-size" (0: the default).
    struct Transfer {
        int chunked;
        int chunkSize;
        bool hasBoundary;
        std::string boundary;
        const char* boundaryOrNull() const { return hasBoundary ? boundary.c_str() : nullptr; }
    };
    Transfer transfer();

    // "%d" of value.
    static std::string decimal(int value);

    static constexpr std::size_t MAX_KEYS = 8;

private:
    // The slot of a listed key, or MAX_KEYS.
    std::size_t slotOf(const char* key, std::size_t length) const;

    // The listed keys, kept as the literals they are: a session made per
    // request costs no copy of them.
    const char* m_keys[MAX_KEYS];
    std::size_t m_keyCount = 0;
    std::string m_values[MAX_KEYS];
    bool m_isSet[MAX_KEYS] = {};
    VexThreadCriticalSection m_lock;
};

#endif
