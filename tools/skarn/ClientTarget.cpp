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
    if (tls.readTimeoutSeconds > 0)
        m_document += element("readTimeoutSeconds", std::to_string(tls.readTimeoutSeconds));
    m_document += "</sessionConfigDocument>";
}
