#ifndef VEX_IDOM_PRESCAN_H
#define VEX_IDOM_PRESCAN_H

#include <cstddef>

// Counts the attributes of each start tag in the bytes before Xerces gets
// them: Xerces reads a whole start tag before it reports it, so one tag with
// a hundred thousand attributes would cost it a tenth of a second before the
// limit is checked. Knows just enough XML to find start tags (comments, CDATA
// sections, PIs and quoted values are passed over) in ASCII-compatible
// encodings; a document in UTF-16 or UCS-4 is not scanned here.
class VexIDOM_Prescan {
public:
    void reset(unsigned limit);

    // False when a start tag goes past the limit; line() and column() then
    // tell where.
    bool feed(const unsigned char* p, std::size_t n);

    int line() const { return m_line; }
    int column() const { return m_column; }

private:
    enum State { First, Off, Text, Open, Bang, Comment, CData, Pi, Markup, Start, Quoted, End };

    // Lines, column and last two bytes after a run that changes no state.
    void pass(const unsigned char* run, std::size_t length);
    bool step(unsigned char c);
    // The end of a comment ("-->") or a CDATA section ("]]>").
    bool close(unsigned char c, unsigned char twice);

    unsigned m_limit = 0;
    State m_state = First;
    unsigned m_count = 0;
    unsigned char m_quote = 0;
    unsigned char m_last = 0;
    unsigned char m_before = 0;
    int m_line = 1;
    int m_column = 0;
};

#endif
