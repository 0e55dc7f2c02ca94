#include "api/SkarnSession.h"

#include "api/SkarnException.h"

#define SKARN_NOT_SUPPORTED(function) SkarnException::raise(VEX_LOCATION, function, SkarnException::errNotSupported)

SkarnSession::~SkarnSession() = default;

void SkarnSession::setProperty(const std::string&, int) { SKARN_NOT_SUPPORTED("SkarnSession::setProperty"); }

void SkarnSession::setProperty(const std::string&, const std::string&) { SKARN_NOT_SUPPORTED("SkarnSession::setProperty"); }

void SkarnSession::echo(const char*) { SKARN_NOT_SUPPORTED("SkarnSession::echo(1)"); }

void SkarnSession::echo(const char*, const char*, int) { SKARN_NOT_SUPPORTED("SkarnSession::echo(3)"); }

void SkarnSession::doRequest(VexIDOM_Element&, VexIDOM_Node&) { SKARN_NOT_SUPPORTED("SkarnSession::doRequest"); }

void SkarnSession::sendRequest(VexIDOM_Element&) { SKARN_NOT_SUPPORTED("SkarnSession::sendRequest"); }

void SkarnSession::getResponse(VexIDOM_Node&) { SKARN_NOT_SUPPORTED("SkarnSession::getResponse"); }

SkarnMessageWriter& SkarnSession::openRequest(int) { SKARN_NOT_SUPPORTED("SkarnSession::openRequest"); }

void SkarnSession::closeRequest(SkarnMessageWriter&) { SKARN_NOT_SUPPORTED("SkarnSession::closeRequest"); }

SkarnMessageReader& SkarnSession::openResponse() { SKARN_NOT_SUPPORTED("SkarnSession::openResponse"); }

void SkarnSession::closeResponse(SkarnMessageReader&) { SKARN_NOT_SUPPORTED("SkarnSession::closeResponse"); }
