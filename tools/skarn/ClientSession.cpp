#include "skarn/ClientSession.h"

#include "api/Skarn.h"
#include "api/SkarnSession.h"
#include "platform/core/VexThrowable.h"
#include "skarn/ClientTarget.h"

#include <string>

ClientSession::ClientSession(Skarn& factory, const ClientTarget& target)
{
    std::string url = target.url(), document = target.document();
    m_session = factory.getSession(&url[0], &document[0], 0);
}

ClientSession::~ClientSession()
{
    try {
        m_session->release();
    } catch (VexThrowable&) {
        // A request left half written: the connection is not reused anyway.
    }
}
