#include "api/SkarnSession.h"

#include "api/SkarnException.h"

#include <strings.h>

#include <cctype>
#include <cstring>

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

std::string SkarnSession::headerProblem(const std::string& name, const std::string& value)
{
    static const char* const marks = "!#$%&'*+-.^_`|~";
    bool token = !name.empty();
    for (char c : name)
        token = token && (std::isalnum(static_cast<unsigned char>(c)) || std::strchr(marks, c));
    if (!token)
        return "\"" + name + "\" is not a header name (letters, digits and !#$%&'*+-.^_`|~ only)";
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return "the value of header " + name + " holds a line end or NUL";
    // The framing and the SOAP action are the writer's: a second copy from the caller would contradict it.
    for (const char* framing : {"Content-Length", "Transfer-Encoding", "Content-Type", "Content-ID",
                                "Content-Transfer-Encoding", "MIME-Version", "Connection", "Keep-Alive", "TE",
                                "Trailer", "Upgrade", "Expect", "SOAPAction"})
        if (::strcasecmp(name.c_str(), framing) == 0)
            return "header " + name + " is set by the message writer, not by the caller";
    return std::string();
}
