#include "platform/crypto/QsmSessionConfig.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char kRoot[] = "<sessionConfigDocument";
const char kRootEnd[] = "</sessionConfigDocument>";

std::string trimmed(const std::string& s)
{
    const char* ws = " \t\r\n";
    std::size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return std::string();
    std::size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

// Decodes the five predefined entities and numeric character references of
// ASCII characters; anything else that starts with '&' is refused.
bool decodeText(const std::string& in, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '<')
            return false;  // markup inside a value: not a plain text element
        if (in[i] != '&') {
            out += in[i];
            continue;
        }
        std::size_t semi = in.find(';', i);
        if (semi == std::string::npos)
            return false;
        std::string ent = in.substr(i + 1, semi - i - 1);
        if (ent == "amp") out += '&';
        else if (ent == "lt") out += '<';
        else if (ent == "gt") out += '>';
        else if (ent == "quot") out += '"';
        else if (ent == "apos") out += '\'';
        else if (ent.size() > 1 && ent[0] == '#') {
            char* end = nullptr;
            long v = ent[1] == 'x' ? std::strtol(ent.c_str() + 2, &end, 16) : std::strtol(ent.c_str() + 1, &end, 10);
            if (!end || *end || v <= 0 || v > 127)
                return false;
            out += static_cast<char>(v);
        } else
            return false;
        i = semi;
    }
    return true;
}

}  // namespace

bool QsmSessionConfig::lastElement(const std::string& doc, const char* name, std::string& value, std::string& error)
{
    const std::string open = std::string("<") + name;
    const std::string close = std::string("</") + name + ">";
    bool found = false;
    std::size_t pos = 0;
    while ((pos = doc.find(open, pos)) != std::string::npos) {
        std::size_t after = pos + open.size();
        if (after >= doc.size())
            break;
        char c = doc[after];
        if (c != '>' && c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '/') {
            pos = after;  // a longer name that starts the same way
            continue;
        }
        std::size_t gt = doc.find('>', after);
        if (gt == std::string::npos) {
            error = std::string("element ") + name + " is not closed";
            return false;
        }
        if (doc[gt - 1] == '/') {  // <name/>: empty
            value.clear();
            found = true;
            pos = gt + 1;
            continue;
        }
        std::size_t end = doc.find(close, gt + 1);
        if (end == std::string::npos) {
            error = std::string("element ") + name + " has no end tag";
            return false;
        }
        std::string text;
        if (!decodeText(doc.substr(gt + 1, end - gt - 1), text)) {
            error = std::string("element ") + name + " does not hold plain text";
            return false;
        }
        value = trimmed(text);
        found = true;
        pos = end + close.size();
    }
    return found;
}

bool QsmSessionConfig::onOff(const std::string& value, const char* name, bool& out, std::string& error)
{
    if (strcasecmp(value.c_str(), "ON") == 0)
        out = true;
    else if (strcasecmp(value.c_str(), "OFF") == 0)
        out = false;
    else {
        error = std::string(name) + " must be ON or OFF, not '" + value + "'";
        return false;
    }
    return true;
}

bool QsmSessionConfig::number(const std::string& value, const char* name, long low, long high, int& out,
                              std::string& error)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || errno || n < low || n > high) {
        error = std::string(name) + " must be a number from " + std::to_string(low) + " to " + std::to_string(high) +
                ", not '" + value + "'";
        return false;
    }
    out = static_cast<int>(n);
    return true;
}

std::string QsmSessionConfig::trustText() const
{
    // Fields separated by NUL bytes, which none of them can hold.
    std::string text;
    for (const std::string* field : {&caFile, &certificateFile, &privateKeyFile, &serverName}) {
        text += *field;
        text += '\0';
    }
    text += static_cast<char>('1' + verifyPeer);  // '0' not given, '1' OFF, '2' ON
    return text;
}

bool QsmSessionConfig::parse(const char* document, std::string& error) { return parse(document, error, Own()); }

bool QsmSessionConfig::parse(const char* document, std::string& error, const Own& own)
{
    *this = QsmSessionConfig();
    if (!document) {
        error = "no session configuration document";
        return false;
    }
    const std::string doc(document);
    if (doc.find("<!DOCTYPE") != std::string::npos || doc.find("<!ENTITY") != std::string::npos) {
        error = "a session configuration document may not declare a document type or entities";
        return false;
    }
    std::size_t root = doc.find(kRoot);
    if (root == std::string::npos || doc.find(kRootEnd, root) == std::string::npos) {
        error = "the document has no sessionConfigDocument root";
        return false;
    }

    std::string v;
    error.clear();
    if (own.forceSSL >= 0)
        forceSSL = own.forceSSL != 0;
    else if (lastElement(doc, "forceSSLStatus", v, error) && !onOff(v, "forceSSLStatus", forceSSL, error))
        return false;
    if (!error.empty())
        return false;
    if (own.family != FamilyUnspecified)
        family = own.family;
    else if (lastElement(doc, "protocolFamily", v, error)) {
        if (strcasecmp(v.c_str(), "IPv4") == 0)
            family = FamilyIPv4;
        else if (strcasecmp(v.c_str(), "IPv6") == 0)
            family = FamilyIPv6;
        else {
            error = "protocolFamily must be IPv4 or IPv6, not '" + v + "'";
            return false;
        }
    }
    if (!error.empty())
        return false;
    if (lastElement(doc, "verifyPeer", v, error)) {
        bool on = true;
        if (!onOff(v, "verifyPeer", on, error))
            return false;
        verifyPeer = on ? 1 : 0;
    }
    if (!error.empty())
        return false;
    struct Number { const char* name; int* field; long low, high; } numbers[] = {
        {"handshakeTimeoutSeconds", &handshakeTimeoutSeconds, 1, 3600},
        {"connectTimeoutSeconds", &connectTimeoutSeconds, 0, 3600},
        {"connectAttempts", &connectAttempts, 1, 100},
        {"connectRetryPauseSeconds", &connectRetryPauseSeconds, 0, 3600},
        {"readTimeoutSeconds", &readTimeoutSeconds, 0, 86400},
        {"responseTimeoutSeconds", &responseTimeoutSeconds, 0, 86400},
    };
    for (const Number& n : numbers) {
        if (lastElement(doc, n.name, v, error) && !number(v, n.name, n.low, n.high, *n.field, error))
            return false;
        if (!error.empty())
            return false;
    }
    struct Text { const char* name; std::string* field; } texts[] = {
        {"serviceID", &serviceID},         {"certificateFile", &certificateFile},
        {"privateKeyFile", &privateKeyFile}, {"caFile", &caFile},
        {"serverName", &serverName},
    };
    for (const Text& t : texts) {
        lastElement(doc, t.name, *t.field, error);
        if (!error.empty())
            return false;
    }
    return true;
}
