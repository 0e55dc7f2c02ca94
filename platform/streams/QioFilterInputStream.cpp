#include "platform/streams/QioFilterInputStream.h"

QioFilterInputStream::~QioFilterInputStream() { m_in = nullptr; }

void QioFilterInputStream::close()
{
    if (m_in)
        m_in->close();
}

int QioFilterInputStream::canTimeout() { return m_in ? m_in->canTimeout() : 0; }

int QioFilterInputStream::setTimeout(int seconds) { return m_in ? m_in->setTimeout(seconds) : 0; }

int QioFilterInputStream::getTimeout() { return m_in ? m_in->getTimeout() : 0; }
int QioFilterInputStream::canCancel() { return m_in ? m_in->canCancel() : 0; }

int QioFilterInputStream::setCancel(int mode) { return m_in ? m_in->setCancel(mode) : 0; }

int QioFilterInputStream::getCancel() { return m_in ? m_in->getCancel() : 0; }

void QioFilterInputStream::cancel()
{
    if (m_in)
        m_in->cancel();
}
