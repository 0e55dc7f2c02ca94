#include "api/SkarnServerSession.h"

#include "api/SkarnException.h"

#define SKARN_NOT_SUPPORTED(function) SkarnException::raise(VEX_LOCATION, function, SkarnException::errNotSupported)

SkarnServerSession::~SkarnServerSession() { m_server_sock = nullptr; }

void SkarnServerSession::setProperty(const std::string&, int) { SKARN_NOT_SUPPORTED("SkarnServerSession::setProperty"); }

void SkarnServerSession::setProperty(const std::string&, const std::string&)
{
    SKARN_NOT_SUPPORTED("SkarnServerSession::setProperty");
}

void SkarnServerSession::echo(const char*) { SKARN_NOT_SUPPORTED("SkarnServerSession::echo(1)"); }

void SkarnServerSession::echo(const char*, const char*, int) { SKARN_NOT_SUPPORTED("SkarnServerSession::echo(3)"); }

void SkarnServerSession::readRequestEnvelope(VexIDOM_Node&)
{
    SKARN_NOT_SUPPORTED("SkarnServerSession::readRequestEnvelope");
}

void SkarnServerSession::respond(VexIDOM_Element&) { SKARN_NOT_SUPPORTED("SkarnServerSession::respond"); }

SkarnMessageReader& SkarnServerSession::openRequest() { SKARN_NOT_SUPPORTED("SkarnServerSession::openRequest"); }

void SkarnServerSession::closeRequest(SkarnMessageReader&) { SKARN_NOT_SUPPORTED("SkarnServerSession::closeRequest"); }

SkarnMessageWriter& SkarnServerSession::openResponse(int) { SKARN_NOT_SUPPORTED("SkarnServerSession::openResponse"); }

void SkarnServerSession::closeResponse(SkarnMessageWriter&) { SKARN_NOT_SUPPORTED("SkarnServerSession::closeResponse"); }
