#ifndef VEX_STRING_TOKENIZER_H
#define VEX_STRING_TOKENIZER_H

#include <string>

// Splits a text into tokens separated by runs of delimiter characters.
//
//   VexStringTokenizer t("POST /svc HTTP/1.1", " \t", 0);
//   t.nextToken();   // "POST"
//   t.nextToken();   // "/svc"
//   t.theRest();     // "HTTP/1.1"
//
// The text is copied: the tokenizer does not keep the caller's pointer. With
// returnDelimiters non-zero, each delimiter character comes back as a token
// of its own.
class VexStringTokenizer {
public:
    VexStringTokenizer(const char* text, const char* delimiters, int returnDelimiters);

    // The next token. Throws NoSuchElementExceptionST when none is left.
    std::string nextToken();
    // 1 while nextToken would give a token.
    int hasMoreTokens() const;
    // The remainder of the text after the last token returned, the delimiters
    // that separate it from that token skipped; empty when nothing follows.
    std::string theRest() const;

private:
    bool isDelimiter(char c) const;

    std::string m_text;
    bool m_isDelimiter[256];  // by byte value
    std::size_t m_pos = 0;
    bool m_returnDelimiters;
};

#endif
