#include "api/Skarn.h"

#include "api/SkarnException.h"

// Each unsupported slot raises errNotSupported from its own line of this unit.
#define SKARN_NOT_SUPPORTED(function) SkarnException::raise(VEX_LOCATION, function, SkarnException::errNotSupported)

Skarn::~Skarn() = default;

void Skarn::setProperty(const std::string&, const std::string&) { SKARN_NOT_SUPPORTED("Skarn::setProperty"); }

SkarnSession* Skarn::getSession(char*, char*, int) { SKARN_NOT_SUPPORTED("Skarn::getSession"); }

SkarnSession* Skarn::getSession(VexIDOM_Element&, char*, int) { SKARN_NOT_SUPPORTED("Skarn::getSession"); }

SkarnSession* Skarn::getSession(const char*, int, const char*, char*, int) { SKARN_NOT_SUPPORTED("Skarn::getSession"); }

SkarnServerSocket* Skarn::getServerSocket(char*, int, char*) { SKARN_NOT_SUPPORTED("Skarn::getServerSocket(3)"); }

SkarnServerSocket* Skarn::getServerSocket(int, char*) { SKARN_NOT_SUPPORTED("Skarn::getServerSocket(2)"); }

SkarnServerSession* Skarn::getServerSession(SkarnSocket*) { SKARN_NOT_SUPPORTED("Skarn::getServerSession"); }

SkarnSocket* Skarn::getSocket() { SKARN_NOT_SUPPORTED("Skarn::GetSocket"); }

