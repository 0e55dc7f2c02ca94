#ifndef BOUNDARY_SCANNER_H
#define BOUNDARY_SCANNER_H

#include <string>

// Finds a multipart delimiter in a byte range, resuming a partial match left
// open at the end of the previous range, so that a delimiter split between two
// reads of the body is still found.
//
// The pattern is not copied: setPattern keeps a pointer into the string's
// storage, which must outlive the scanner and stay unchanged while it is used.
class BoundaryScanner {
public:
    BoundaryScanner() = default;
    ~BoundaryScanner() { m_pat = nullptr; }
    BoundaryScanner(const BoundaryScanner&) = delete;
    BoundaryScanner& operator=(const BoundaryScanner&) = delete;

    // Pattern pointer and length from `pattern`; the match state is untouched.
    void setPattern(const std::string& pattern);
    // Forgets the open partial match and the found mark.
    void reset()
    {
        m_matched = 0;
        m_found = 0;
    }
    int isFound() const { return m_found; }

    // Searches buf[start, end). Returns the index at which the whole pattern
    // begins (and marks it found), or else the index at which a partial match
    // still open at `end` begins, or `end` when none is open. Bytes from
    // `start` up to the result are data. When a partial match is open, the
    // caller keeps its bytes and passes their index as `start` next time; the
    // search then resumes with the bytes after them.
    //
    // The result is that of a plain restart search: a failed partial match
    // resumes one byte after the place where it began. Where no match is open,
    // bytes that cannot begin the pattern are passed over with memchr, which
    // gives the same result faster.
    // Throws VexAssertError "VEX_ASSERT(buf);" or "VEX_ASSERT(m_pat);".
    int scan(const char* buf, int start, int end);

private:
    const char* m_pat = nullptr;  // not owned
    unsigned m_patLength = 0;
    unsigned m_matched = 0;
    int m_found = 0;
};

#endif
