#include "ClientTarget.h"

#include <skarn/platform/dom/XmlUrl.h>

#include "ToolError.h"

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
    std::string name, host;
    int port = 0;
    try {
        const XmlUrl parsed{I18NString(url)};
        name = parsed.getProtocol().str();
        host = parsed.getHost().str();
        port = parsed.getPort();
        m_path = parsed.getPath().str();
    } catch (...) {  // Xerces' MalformedURLException, which the tool does not link against
        throw ToolError(ToolError::Usage,
                        "not a URL of the form http[s]://host[:port]/path with a port of 1 to 65535: " + url);
    }
    if (name != "http" && name != "https")
        throw ToolError(ToolError::Usage, "unknown scheme \"" + name + "\" in " + url + " (http or https)");
    const std::string hostPart = host.find(':') == std::string::npos ? host : "[" + host + "]";
    const bool defaultPort = port == (name == "https" ? 443 : 80);
    m_origin = name + "://" + hostPart + (defaultPort ? "" : ":" + std::to_string(port));
    m_peer.authority = hostPart + ":" + std::to_string(port);
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
