#include "skarn/ClientSession.h"

#include "api/Skarn.h"
#include "api/SkarnSession.h"
#include "conn/SkarnConnectionPool.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "platform/core/VexThrowable.h"
#include "skarn/ClientTarget.h"
#include "skarn/ToolError.h"

#include <mutex>

namespace {
// Handing the wrapped connection to the pool and taking it out again through
// getSession is one step: no other thread may take it in between.
std::mutex poolStep;
}  // namespace

ClientSession::ClientSession(Skarn& factory, const ClientTarget& target, const WatchedSocket::Limits& limits)
{
    SkarnConnectionPool* pool = SkrConnectionPoolFactory::getInstance();
    SkarnSocket* inner = pool->openConnection(1, target.url().c_str(), target.document().c_str(), target.key());
    auto gone = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<WatchedSocket> socket;
    try {
        socket.reset(new WatchedSocket(inner, limits));
    } catch (...) {
        delete inner;
        throw;
    }
    socket->setGoneFlag(gone);
    socket->setPoolKey(target.key());
    socket->markReusable();
    std::string url = target.url(), document = target.document();
    std::lock_guard<std::mutex> lock(poolStep);
    // Idle connections of earlier sessions would be handed out first.
    while (SkarnSocket* idle = pool->findIdleSocket(target.key())) {
        idle->disableReuse();
        idle->release();
    }
    m_socket = socket.release();
    pool->returnSocket(m_socket);
    m_session = factory.getSession(&url[0], &document[0], 0);
    if (gone->load()) {
        // The pool found the connection closed already (or too old by its
        // settings) and made another one, which the tool cannot watch.
        m_session->release();
        throw ToolError(ToolError::Transport, "the new connection was closed before the session could use it");
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
