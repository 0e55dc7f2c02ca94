#include "platform/httptools/HTTPHeader.h"

#include "platform/core/VexByteBuffer.h"

#include <cstring>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

void trimRight(std::string& s)
{
    std::size_t n = s.size();
    while (n > 0 && isBlank(s[n - 1]))
        --n;
    s.erase(n);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(const std::string& a, const char* b)
{
    std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Bytes that force a quoted attribute value: controls, blank, DEL and the
// separators ()<>@,;:\"/[]?=.
struct QuoteTable {
    bool special[256] = {};
    QuoteTable()
    {
        for (int c = 0; c <= 32; ++c)
            special[c] = true;
        special[127] = true;
        for (const char* p = "()<>@,;:\\\"/[]?="; *p; ++p)
            special[static_cast<unsigned char>(*p)] = true;
    }
};

const QuoteTable& quoteTable()
{
    static const QuoteTable table;
    return table;
}

bool needsQuotes(const std::string& v)
{
    const QuoteTable& table = quoteTable();
    if (v.empty())
        return true;
    for (char ch : v)
        if (table.special[static_cast<unsigned char>(ch)])
            return true;
    return false;
}

}  // namespace

void HTTPHeader::parse(const char* text)
{
    m_value.clear();
    m_attributes.clear();
    m_parsed = text != nullptr;
    if (!text)
        return;
    const char* p = text;

    // Main value: up to the first ';' outside a quoted part, kept as received.
    while (*p && isBlank(*p))
        ++p;
    const char* start = p;
    for (;;) {
        p += std::strcspn(p, ";\"");
        if (*p != '"')
            break;
        // A quoted part: up to its closing quote, backslash escapes skipped.
        for (++p; *p && *p != '"'; ++p)
            if (*p == '\\' && p[1])
                ++p;
        if (*p)
            ++p;
    }
    m_value.assign(start, static_cast<std::size_t>(p - start));
    trimRight(m_value);

    // Attributes: name [= value], separated by ';'.
    while (*p) {
        while (*p == ';' || isBlank(*p))
            ++p;
        if (!*p)
            break;
        Attribute a{std::string(), std::string(), false};
        const char* nameStart = p;
        while (*p && *p != '=' && *p != ';')
            ++p;
        a.name.assign(nameStart, static_cast<std::size_t>(p - nameStart));
        trimRight(a.name);
        if (*p == '=') {
            a.hasValue = true;
            ++p;
            while (*p && isBlank(*p))
                ++p;
            if (*p == '"') {
                ++p;
                for (; *p && *p != '"'; ++p) {
                    if (*p == '\\' && p[1])
                        ++p;
                    a.value += *p;
                }
                if (*p == '"')
                    ++p;
                // Anything but blanks between the closing quote and the next
                // ';' is kept with the value rather than dropped.
                for (; *p && *p != ';'; ++p)
                    if (!isBlank(*p))
                        a.value += *p;
            } else {
                const char* valueStart = p;
                while (*p && *p != ';')
                    ++p;
                a.value.assign(valueStart, static_cast<std::size_t>(p - valueStart));
                trimRight(a.value);
            }
        }
        if (!a.name.empty() || a.hasValue)
            m_attributes.push_back(std::move(a));
    }
}

const char* HTTPHeader::getValue() const { return m_parsed ? m_value.c_str() : nullptr; }

const char* HTTPHeader::getAttribute(const char* name) const
{
    if (!name)
        return nullptr;
    for (const Attribute& a : m_attributes)
        if (sameName(a.name, name))
            return a.value.c_str();
    return nullptr;
}

std::string& HTTPHeader::dump(std::string& out) const
{
    out += m_value;
    for (const Attribute& a : m_attributes) {
        out += "; ";
        out += a.name;
        if (!a.hasValue)
            continue;
        out += '=';
        if (!needsQuotes(a.value)) {
            out += a.value;
            continue;
        }
        out += '"';
        for (char c : a.value) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '"';
    }
    return out;
}

VexByteBuffer& HTTPHeader::dump(VexByteBuffer& out) const
{
    std::string text;
    dump(text);
    out.append(text.data(), static_cast<unsigned>(text.size()));
    return out;
}

bool HTTPHeader::isNormalForm(const char* value, std::size_t length)
{
    const char* end = value + length;
    if (length == 0 || isBlank(*value) || isBlank(end[-1]))
        return false;
    // The main value: up to the first ';', no quotes, no blank before the ';'.
    const char* p = static_cast<const char*>(std::memchr(value, ';', length));
    if (!p)
        p = end;
    if (p == value || isBlank(p[-1]) || std::memchr(value, '"', static_cast<std::size_t>(p - value)))
        return false;
    const QuoteTable& table = quoteTable();
    while (p < end) {
        // At a ';': exactly one blank, then a name that starts with neither
        // a blank, a ';' nor an '='.
        if (end - p < 3 || p[1] != ' ' || isBlank(p[2]) || p[2] == ';' || p[2] == '=')
            return false;
        p += 2;
        const char* next = static_cast<const char*>(std::memchr(p, ';', static_cast<std::size_t>(end - p)));
        if (!next)
            next = end;
        const char* equals = static_cast<const char*>(std::memchr(p, '=', static_cast<std::size_t>(next - p)));
        const char* nameEnd = equals ? equals : next;
        if (isBlank(nameEnd[-1]))
            return false;
        if (equals) {
            // A value that needs no quotes, not empty.
            if (equals + 1 == next)
                return false;
            for (const char* v = equals + 1; v < next; ++v)
                if (table.special[static_cast<unsigned char>(*v)])
                    return false;
        }
        p = next;
    }
    return true;
}
