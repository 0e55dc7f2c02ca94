#include "skarn/ClientTarget.h"

#include "skarn/ToolError.h"

#include <unistd.h>

namespace {

std::string element(const char* name, const std::string& value)
{
    std::string text;
    for (char c : value)
        text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
    return std::string("<") + name + ">" + text + "</" + name + ">";
}

void readable(const std::string& path, const char* option)
{
    if (!path.empty() && ::access(path.c_str(), R_OK) != 0)
        throw ToolError(ToolError::Usage, std::string(option) + ": cannot read " + path);
}

}  // namespace

ClientTarget::ClientTarget(const std::string& url, const Tls& tls) : m_url(url)
{
    const std::size_t scheme = url.find("://");
    const std::size_t path = scheme == std::string::npos ? scheme : url.find('/', scheme + 3);
    if (scheme == std::string::npos || path == scheme + 3)
        throw ToolError(ToolError::Usage, "not a URL of the form http[s]://host[:port]/path: " + url);
    const std::string name = url.substr(0, scheme);
    if (name != "http" && name != "https")
        throw ToolError(ToolError::Usage, "unknown scheme \"" + name + "\" in " + url + " (http or https)");
    std::string authority = url.substr(scheme + 3, path == std::string::npos ? path : path - scheme - 3);
    authority = authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        const std::string port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
            std::stol(port) < 1 || std::stol(port) > 65535)
            throw ToolError(ToolError::Usage, "port \"" + port + "\" in " + url + " is not a number of 1 to 65535");
    } else {
        authority += name == "https" ? ":443" : ":80";
    }
    m_peer.authority = authority;
    m_peer.tls = name == "https";
    m_peer.connectAttempts = kConnectAttempts;
    m_peer.connectTimeoutSeconds = tls.connectTimeoutSeconds;
    m_peer.readTimeoutSeconds = tls.readTimeoutSeconds;
    if (tls.certFile.empty() != tls.keyFile.empty())
        throw ToolError(ToolError::Usage, "--cert and --key go together");
    readable(tls.caFile, "--cacert");
    readable(tls.certFile, "--cert");
    readable(tls.keyFile, "--key");

    m_document = "<sessionConfigDocument>";
    m_document += element("forceSSLStatus", name == "https" ? "ON" : "OFF");
    if (!tls.caFile.empty())
        m_document += element("caFile", tls.caFile);
    if (!tls.certFile.empty())
        m_document += element("certificateFile", tls.certFile) + element("privateKeyFile", tls.keyFile);
    if (tls.insecure)
        m_document += element("verifyPeer", "OFF");
    if (tls.handshakeSeconds > 0)
        m_document += element("handshakeTimeoutSeconds", std::to_string(tls.handshakeSeconds));
    if (tls.connectTimeoutSeconds > 0)
        m_document += element("connectTimeoutSeconds", std::to_string(tls.connectTimeoutSeconds));
    m_document += element("connectAttempts", std::to_string(kConnectAttempts));
    m_document += element("connectRetryPauseSeconds", std::to_string(kConnectRetryPauseSeconds));
    if (tls.readTimeoutSeconds > 0)
        m_document += element("readTimeoutSeconds", std::to_string(tls.readTimeoutSeconds));
    m_document += "</sessionConfigDocument>";
}
