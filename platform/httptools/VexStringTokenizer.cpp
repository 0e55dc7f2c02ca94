#include "platform/httptools/VexStringTokenizer.h"

#include "platform/core/VexFileLocation.h"
#include "platform/httptools/NoSuchElementExceptionST.h"

VexStringTokenizer::VexStringTokenizer(const char* text, const char* delimiters, int returnDelimiters)
    : m_text(text ? text : ""), m_isDelimiter(), m_returnDelimiters(returnDelimiters != 0)
{
    for (const char* d = delimiters; d && *d; ++d)
        m_isDelimiter[static_cast<unsigned char>(*d)] = true;
}

bool VexStringTokenizer::isDelimiter(char c) const { return m_isDelimiter[static_cast<unsigned char>(c)]; }

int VexStringTokenizer::hasMoreTokens() const
{
    std::size_t p = m_pos;
    if (m_returnDelimiters)
        return p < m_text.size() ? 1 : 0;
    while (p < m_text.size() && isDelimiter(m_text[p]))
        ++p;
    return p < m_text.size() ? 1 : 0;
}

std::string VexStringTokenizer::nextToken()
{
    if (!m_returnDelimiters)
        while (m_pos < m_text.size() && isDelimiter(m_text[m_pos]))
            ++m_pos;
    if (m_pos >= m_text.size())
        NoSuchElementExceptionST().hurl(VEX_LOCATION, "VexStringTokenizer::nextToken", "VEX_THROW");
    if (m_returnDelimiters && isDelimiter(m_text[m_pos]))
        return std::string(1, m_text[m_pos++]);
    std::size_t start = m_pos;
    while (m_pos < m_text.size() && !isDelimiter(m_text[m_pos]))
        ++m_pos;
    return m_text.substr(start, m_pos - start);
}

std::string VexStringTokenizer::theRest() const
{
    std::size_t p = m_pos;
    while (p < m_text.size() && isDelimiter(m_text[p]))
        ++p;
    return m_text.substr(p);
}
