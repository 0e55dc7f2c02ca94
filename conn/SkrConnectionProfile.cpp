#include "conn/SkrConnectionProfile.h"

#include "platform/crypto/QsmSessionConfig.h"

#include <cstring>

namespace {

// The last request a thread asked about, and its answer.
struct LastProfile {
    int secure = -1;
    bool https = false;
    bool hasDocument = false;
    std::string document;
    SkrConnectionProfile profile;
};

}  // namespace

const SkrConnectionProfile& SkrConnectionProfile::of(int secure, bool https, const char* document)
{
    static thread_local LastProfile last;
    const bool hasDocument = document != nullptr;
    if (last.secure == secure && last.https == https && last.hasDocument == hasDocument &&
        (!hasDocument || last.document == document))
        return last.profile;
    last.secure = -1;  // not valid until computed: compute may throw
    last.profile.compute(secure, https, document);
    last.document.assign(hasDocument ? document : "");
    last.hasDocument = hasDocument;
    last.https = https;
    last.secure = secure;
    return last.profile;
}

void SkrConnectionProfile::compute(int secure, bool https, const char* document)
{
    m_limits = SkarnSocket::Limits();
    QsmSessionConfig config;
    std::string error;
    const bool parsed = document && config.parse(document, error);
    if (parsed) {
        m_limits.connectAttempts = config.connectAttempts;
        m_limits.connectRetryPauseSeconds = config.connectRetryPauseSeconds;
        m_limits.connectTimeoutSeconds = config.connectTimeoutSeconds;
        m_limits.readTimeoutSeconds = config.readTimeoutSeconds;
        m_limits.responseTimeoutSeconds = config.responseTimeoutSeconds;
    }
    if (secure != 1) {
        m_kind = "plain socket";
    } else if (!parsed) {
        m_kind = "document\n";
        m_kind += document ? document : "";
    } else if (config.forceSSL || https) {
        m_kind = "TLS\n" + config.trustText();
    } else {
        m_kind = "plain";
    }
}

void SkrConnectionProfile::applyTo(SkarnSocket& socket) const
{
    socket.setPoolKind(m_kind);
    socket.setLimits(m_limits);
}
