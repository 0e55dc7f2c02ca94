#include "ClientSession.h"

#include <skarn/api/Skarn.h>
#include <skarn/api/SkarnSession.h>
#include <skarn/platform/core/VexThrowable.h>

#include "ClientTarget.h"

#include <chrono>
#include <string>

ClientSession::ClientSession(Skarn& factory, const ClientTarget& target) : m_peer(target.peer())
{
    std::string url = target.url(), document = target.document();
    const auto start = std::chrono::steady_clock::now();
    try {
        m_session = factory.getSession(&url[0], &document[0], 0);
    } catch (...) {
        throw ToolError::fromCurrent(m_peer, ToolError::Connecting,
                                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

ClientSession::~ClientSession()
{
    try {
        m_session->release();
    } catch (VexThrowable&) {
        // A request left half written: the connection is not reused anyway.
    }
}
