#ifndef VEX_IDOM_NAME_SET_H
#define VEX_IDOM_NAME_SET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The distinct names of the parse under way: their characters side by side in
// one text, found through an open-addressed table of offsets. A slot belongs
// to the parse whose generation it carries, so emptying the set for the next
// parse touches no slot, and both keep their storage: names cost no
// allocation once a thread's parser has seen a document of the same size.
class VexIDOM_NameSet {
public:
    void clear();

    std::size_t size() const { return m_count; }
    // The characters of the names, their ends included.
    std::size_t chars() const { return m_text.size(); }

    // Adds the name unless present; false, nothing added, when it is new and
    // the set already holds `limit` names.
    bool add(const char16_t* name, std::size_t limit);

private:
    struct Slot {
        std::uint32_t at = 0;  // offset of the name in m_text
        std::uint32_t hash = 0;
        std::uint32_t generation = 0;
    };

    void grow();

    std::u16string m_text;
    std::vector<Slot> m_slots;
    std::size_t m_count = 0;
    std::uint32_t m_generation = 1;
};

#endif
