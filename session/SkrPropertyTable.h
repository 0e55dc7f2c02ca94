#ifndef SKR_PROPERTY_TABLE_H
#define SKR_PROPERTY_TABLE_H

#include "platform/core/VexThreadCriticalSection.h"

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

// The property table of the factory and of both sessions: an ordered map from
// key to text value that takes only the keys its owner lists (compared
// case-sensitively, as whole strings), under a lock of its own. Numbers are
// kept as decimal text and read back with atoi. The owner raises its own
// error for a refused key, so that the failure names the owner's unit.
class SkrPropertyTable {
public:
    using Map = std::map<std::string, std::string>;

    explicit SkrPropertyTable(std::initializer_list<const char*> keys) : m_keys(keys.begin(), keys.end()), m_lock(0) {}
    SkrPropertyTable(const SkrPropertyTable&) = delete;
    SkrPropertyTable& operator=(const SkrPropertyTable&) = delete;

    // Stores (or replaces) the value; false, and nothing stored, for a key not listed.
    bool set(const std::string& key, const std::string& value);
    // The value's characters, or null when unset; valid until the key is set again.
    const char* get(const char* key);

    // The message writer's transfer mode from "send-content-length", "chunk-size" and "boundary":
    // a content length when "send-content-length" is non-zero, else chunks of "chunk-size" (0: the default).
    struct Transfer {
        int chunked;
        int chunkSize;
        const char* boundary;
    };
    Transfer transfer();

    // The map itself, for the writer, which reads "Authorization" and "Host" from it without the lock.
    Map* map() { return &m_map; }

    // "%d" of value.
    static std::string decimal(int value);

private:
    std::vector<std::string> m_keys;
    Map m_map;
    VexThreadCriticalSection m_lock;
};

#endif
