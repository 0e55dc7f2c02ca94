#include "runtime/SkarnServerRuntime.h"

#include "conn/SkrServerSocket.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexMacros.h"
#include "runtime/SkrServerRuntime.h"

SkarnServerRuntime::SkarnServerRuntime(Handler& handler, const Limits& limits)
    : m_impl(new SkrServerRuntime(handler, limits))
{
}

SkarnServerRuntime::~SkarnServerRuntime() = default;

int SkarnServerRuntime::listen(const char* address, int port, const char* sessionConfigDoc, int serverSSL)
{
    return m_impl->listen(address, port, sessionConfigDoc, serverSSL);
}

int SkarnServerRuntime::listen(SkarnServerSocket* socket)
{
    SkrServerSocket* ours = dynamic_cast<SkrServerSocket*>(socket);
    if (!ours)
        VexIllegalArgumentError(0, "the server socket was not made by the factory")
            .hurl(VEX_LOCATION, "SkarnServerRuntime::listen", "VEX_THROW");
    return m_impl->listen(ours, false);
}

void SkarnServerRuntime::run() { m_impl->run(); }

void SkarnServerRuntime::stop() { m_impl->stop(); }

SkarnServerRuntime::Counters SkarnServerRuntime::counters() const { return m_impl->counters(); }
