#include "AccessLog.h"

#include <cstdio>
#include <ctime>

namespace {

// Length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
std::size_t utf8Length(const std::string& s, std::size_t at)
{
    const unsigned char c = static_cast<unsigned char>(s[at]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || at + n > s.size())
        return 0;
    unsigned long code = n == 1 ? c : c & (0x3f >> (n - 1));
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[at + k]);
        if ((d >> 6) != 2)
            return 0;
        code = code << 6 | (d & 0x3f);
    }
    static const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return n;
}

// Text field: "-" when unknown; blanks, control bytes, '%' and bytes that are
// not UTF-8 as %XX, so that the fields stay split by single spaces and the line
// is UTF-8.
std::string textField(const std::string& text)
{
    if (text.empty())
        return "-";
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const std::size_t n = utf8Length(text, at);
        if (n == 0 || c <= ' ' || c == '%' || c == 0x7f) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
            ++at;
        } else {
            out.append(text, at, n);
            at += n;
        }
    }
    return out;
}

// A JSON string, or null when unknown.
std::string jsonField(const std::string& text)
{
    if (text.empty())
        return "null";
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const std::size_t n = utf8Length(text, at);
        if (n == 0) {
            out += "\\ufffd";
            ++at;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++at;
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
            ++at;
        } else {
            out.append(text, at, n);
            at += n;
        }
    }
    return out + "\"";
}

}  // namespace

std::string AccessLog::line(const Entry& e, const std::string& when) const
{
    const std::string numbers[] = {std::to_string(e.status), std::to_string(e.bytesIn), std::to_string(e.bytesOut),
                                   std::to_string(e.milliseconds)};
    if (m_format == Text)
        return when + ' ' + textField(e.peer) + ' ' + textField(e.method) + ' ' + textField(e.path) + ' ' + numbers[0] +
               ' ' + numbers[1] + ' ' + numbers[2] + ' ' + numbers[3];
    return "{\"time\":" + jsonField(when) + ",\"peer\":" + jsonField(e.peer) + ",\"method\":" + jsonField(e.method) +
           ",\"path\":" + jsonField(e.path) + ",\"status\":" + numbers[0] + ",\"bytes_in\":" + numbers[1] +
           ",\"bytes_out\":" + numbers[2] + ",\"ms\":" + numbers[3] + "}";
}

void AccessLog::write(const Entry& e)
{
    if (!m_out)
        return;
    char when[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    ::gmtime_r(&now, &utc);
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    const std::string text = line(e, when);
    std::lock_guard<std::mutex> lock(m_lock);
    *m_out << text << std::endl;
}
