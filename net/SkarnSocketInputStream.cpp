#include "net/SkarnSocketInputStream.h"

#include "net/SkarnSocket.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexUnsupportedOperationError.h"
#include "platform/streams/QioIOCancelException.h"
#include "platform/streams/QioIOTimeoutException.h"

#include <chrono>

SkarnSocketInputStream::SkarnSocketInputStream() : m_cancelEnabled(0), m_cancelRequested(0) {}

SkarnSocketInputStream::~SkarnSocketInputStream() = default;

int SkarnSocketInputStream::canUnread() { return 1; }

void SkarnSocketInputStream::unread(const char* bytes, unsigned length) { m_held.push(bytes, length); }

int SkarnSocketInputStream::canTimeout() { return m_cancelEnabled ? 0 : 1; }

namespace {

long long steadyMillis()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void SkarnSocketInputStream::installCallback()
{
    const int period = (m_cancelEnabled || hasResponseLimits()) ? 1 : m_timeoutSeconds;
    if (period > 0)
        getSocket()->setTimeLimitCallback(&SkarnSocketInputStream::timeoutHandler, this, period);
    else
        getSocket()->setTimeLimitCallback(nullptr, nullptr, 0);
}

int SkarnSocketInputStream::setTimeout(int seconds)
{
    if (seconds > 0) {
        if (!canTimeout())
            VexUnsupportedOperationError(0, nullptr).hurl(VEX_LOCATION, "SkarnSocketInputStream::setTimeout", "VEX_THROW");
        m_timeoutSeconds = seconds;
        installCallback();
    } else if (!m_cancelEnabled) {
        m_timeoutSeconds = 0;
        installCallback();
    }
    return (!m_cancelEnabled && m_timeoutSeconds > 0) ? 1 : 0;
}

int SkarnSocketInputStream::getTimeout() { return m_cancelEnabled ? 0 : m_timeoutSeconds; }

int SkarnSocketInputStream::canCancel() { return (m_cancelEnabled || m_timeoutSeconds == 0) ? 1 : 0; }

int SkarnSocketInputStream::setCancel(int on)
{
    if (!canCancel())
        VexUnsupportedOperationError(0, nullptr).hurl(VEX_LOCATION, "SkarnSocketInputStream::setCancel", "VEX_THROW");
    m_timeoutSeconds = 0;
    m_cancelEnabled = on ? 1 : 0;
    installCallback();
    return 1;
}

int SkarnSocketInputStream::getCancel() { return m_cancelEnabled; }

void SkarnSocketInputStream::cancel()
{
    if (!m_cancelEnabled)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "SkarnSocketInputStream::cancel", "VEX_THROW");
    m_cancelRequested.store(1);
}

void SkarnSocketInputStream::setResponseLimits(int silenceSeconds, int totalSeconds)
{
    m_silenceLimit = silenceSeconds > 0 ? silenceSeconds : 0;
    m_deadline = totalSeconds > 0 ? steadyMillis() + 1000LL * totalSeconds : 0;
    m_minRate = 0;
    installCallback();
}

void SkarnSocketInputStream::setMinimumRate(int bytesPerSecond, int graceSeconds)
{
    m_minRate = bytesPerSecond > 0 && graceSeconds > 0 ? bytesPerSecond : 0;
    m_rateGraceMillis = 1000LL * graceSeconds;
    if (m_minRate > 0)
        m_deadline = steadyMillis() + m_rateGraceMillis;
    installCallback();
}

void SkarnSocketInputStream::creditRate(unsigned bytes)
{
    const long long cap = steadyMillis() + m_rateGraceMillis;
    m_deadline += 1000LL * bytes / m_minRate;
    if (m_deadline > cap)
        m_deadline = cap;
}

void SkarnSocketInputStream::checkDeadline()
{
    if (steadyMillis() >= m_deadline)
        QioIOTimeoutException(0).hurl(VEX_LOCATION, "SkarnSocketInputStream::read - the response took too long",
                                      "VEX_THROW");
}

void SkarnSocketInputStream::timeoutHandler(void* instancePointer)
{
    VEX_ASSERT(instancePointer);
    SkarnSocketInputStream* stream = static_cast<SkarnSocketInputStream*>(instancePointer);
    if (stream->hasResponseLimits()) {
        // Called back every second: count this wait's seconds.
        ++stream->m_waitCalls;
        if (stream->m_deadline != 0)
            stream->checkDeadline();
        if (stream->m_silenceLimit > 0 && stream->m_waitCalls >= stream->m_silenceLimit)
            QioIOTimeoutException(0).hurl(VEX_LOCATION, "SkarnSocketInputStream::read - the server went silent",
                                          "VEX_THROW");
        if (!stream->m_cancelEnabled && stream->m_timeoutSeconds > 0 &&
            stream->m_waitCalls >= stream->m_timeoutSeconds)
            QioIOTimeoutException(0).hurl(VEX_LOCATION, "SkarnSocketInputStream::timeoutHandler", "VEX_THROW");
    } else if (!stream->m_cancelEnabled) {
        QioIOTimeoutException(0).hurl(VEX_LOCATION, "SkarnSocketInputStream::timeoutHandler", "VEX_THROW");
    }
    if (stream->m_cancelEnabled && stream->m_cancelRequested.exchange(0))
        QioIOCancelException(0).hurl(VEX_LOCATION, "SkarnSocketInputStream::timeoutHandler", "VEX_THROW");
}
