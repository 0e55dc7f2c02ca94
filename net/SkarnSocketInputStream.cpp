#include "net/SkarnSocketInputStream.h"

#include "net/SkarnSocket.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexUnsupportedOperationError.h"
#include "platform/streams/QioIOCancelException.h"
#include "platform/streams/QioIOTimeoutException.h"

SkarnSocketInputStream::SkarnSocketInputStream() : m_cancelEnabled(0), m_cancelRequested(0) {}

SkarnSocketInputStream::~SkarnSocketInputStream() = default;

int SkarnSocketInputStream::canUnread() { return 1; }

void SkarnSocketInputStream::unread(const char* bytes, unsigned length) { m_held.push(bytes, length); }

int SkarnSocketInputStream::canTimeout() { return m_cancelEnabled ? 0 : 1; }

int SkarnSocketInputStream::setTimeout(int seconds)
{
    SkarnSocket* socket = getSocket();
    if (seconds > 0) {
        if (!canTimeout())
            VexUnsupportedOperationError(0, nullptr).hurl(VEX_LOCATION, "SkarnSocketInputStream::setTimeout", "VEX_THROW");
        socket->setTimeLimitCallback(&SkarnSocketInputStream::timeoutHandler, this, seconds);
    } else if (!m_cancelEnabled) {
        socket->setTimeLimitCallback(nullptr, nullptr, 0);
    }
    return (!m_cancelEnabled && socket->getTimeLimitSec() > 0) ? 1 : 0;
}

int SkarnSocketInputStream::getTimeout() { return m_cancelEnabled ? 0 : getSocket()->getTimeLimitSec(); }

int SkarnSocketInputStream::canCancel()
{
    if (m_cancelEnabled)
        return 1;
    return getSocket()->getTimeLimitSec() == 0 ? 1 : 0;
}

int SkarnSocketInputStream::setCancel(int on)
{
    if (!canCancel())
        VexUnsupportedOperationError(0, nullptr).hurl(VEX_LOCATION, "SkarnSocketInputStream::setCancel", "VEX_THROW");
    m_cancelEnabled = 0;
    if (on) {
        setTimeout(1);
        m_cancelEnabled = 1;
    } else {
        setTimeout(0);
    }
    return 1;
}

int SkarnSocketInputStream::getCancel() { return m_cancelEnabled; }

void SkarnSocketInputStream::cancel()
{
    if (!m_cancelEnabled)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "SkarnSocketInputStream::cancel", "VEX_THROW");
    m_cancelRequested.store(1);
}

void SkarnSocketInputStream::timeoutHandler(void* instancePointer)
{
    VEX_ASSERT(instancePointer);
    SkarnSocketInputStream* stream = static_cast<SkarnSocketInputStream*>(instancePointer);
    if (!stream->m_cancelEnabled)
        QioIOTimeoutException(0).hurl(VEX_LOCATION, "SkarnSocketInputStream::timeoutHandler", "VEX_THROW");
    if (stream->m_cancelRequested.exchange(0))
        QioIOCancelException(0).hurl(VEX_LOCATION, "SkarnSocketInputStream::timeoutHandler", "VEX_THROW");
}
