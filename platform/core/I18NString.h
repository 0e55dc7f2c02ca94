#ifndef I18N_STRING_H
#define I18N_STRING_H

#include "SkarnExport.h"

#include <cstddef>
#include <string>

// The text type of messages, parameters and DOM texts: UTF-8 bytes.
// A null character pointer given to a constructor or to append makes no text.
class SKARN_EXPORT I18NString {
public:
    I18NString() = default;
    I18NString(const char* text) : m_text(text ? text : "") {}  // NOLINT: implicit by design
    I18NString(const char* text, std::size_t length) : m_text(text ? std::string(text, length) : std::string()) {}
    I18NString(const std::string& text) : m_text(text) {}  // NOLINT
    I18NString(std::string&& text) : m_text(std::move(text)) {}  // NOLINT

    const char* c_str() const { return m_text.c_str(); }
    // The bytes for callers that want a plain character text; valid while the string lives
    // unchanged. releaseBuffer() exists for callers written against owned copies: it is a no-op.
    const char* getAsciiString() const { return m_text.c_str(); }
    static void releaseBuffer(const char*) {}

    std::size_t length() const { return m_text.size(); }
    bool isEmpty() const { return m_text.empty(); }
    const std::string& str() const { return m_text; }
    std::string& str() { return m_text; }

    I18NString& append(const char* text) { if (text) m_text += text; return *this; }
    I18NString& append(const char* text, std::size_t length) { if (text) m_text.append(text, length); return *this; }
    I18NString& append(const I18NString& other) { m_text += other.m_text; return *this; }
    I18NString& operator+=(const I18NString& other) { return append(other); }
    I18NString& operator+=(const char* text) { return append(text); }
    void clear() { m_text.clear(); }

    bool operator==(const I18NString& o) const { return m_text == o.m_text; }
    bool operator!=(const I18NString& o) const { return m_text != o.m_text; }
    bool operator==(const char* o) const { return o && m_text == o; }

private:
    std::string m_text;
};

#endif
