#include "api/SkarnException.h"

SkarnException::SkarnException(VexSeverity severity, mirraErrorCode code) : VexException(severity, code) {}

SkarnException::SkarnException(VexSeverity severity, mirraErrorCode code, VexMessageBase& message)
    : VexException(severity, code)
{
    addMessage(message);
}

SkarnException::SkarnException(const SkarnException& other) = default;

SkarnException& SkarnException::operator=(const SkarnException& other)
{
    if (this != &other)
        VexException::operator=(other);
    return *this;
}

SkarnException::~SkarnException() = default;

SkarnException& SkarnException::operator<<(const VexMessageBase& message)
{
    addMessage(message);
    return *this;
}

VexThrowable* SkarnException::clone() const { return new SkarnException(*this); }

void SkarnException::hurl(const VexFileLocation& location, const char* function, const char* macro)
{
    addBackTrace(location, function, macro);
    throw SkarnException(*this);
}

const char* SkarnException::getThrowableName() const { return "SkarnException"; }

unsigned int SkarnException::messageNumberOf(mirraErrorCode code)
{
    switch (code) {
    case errNotSupported: return 1841854490u;
    case errNoAddress: return 1841617768u;
    case errWriterState: return 1841881513u;
    case errSocket: return 1841392216u;
    case errUnexpectedEnd: return 1842183075u;
    case errBadMethod: return 1841924072u;
    case errBadHttpVersion: return 1841455314u;
    case errBadRequestLine: return 1842181424u;
    case errBadStatusLine: return 1841628141u;
    case errBadContentType: return 1841604849u;
    case errBadBoundary: return 1841445727u;
    case errBadContentId: return 1841604980u;
    case errBadContentLength: return 1841768624u;
    case errBadTransferEncoding: return 1842158018u;
    case errEnvelope16: return 1842023855u;
    case errEnvelope17: return 1842090207u;
    case errEnvelope18: return 1841551851u;
    case errNotMultipart: return 1841683373u;
    case errMultipartStructure: return 1842200362u;
    case errMissingConfigValue: return 1842308005u;
    case errHostName: return 1841643536u;
    case errBadQuotedPrintableEscape: return 1842266981u;
    case errBadQuotedPrintableSoftBreak: return 1841908908u;
    case errTransferEncoding: return 1841438350u;
    case errBadUrl: return 1841456247u;
    case errHostNotResolved: return 1842289512u;
    }
    return 0;
}

void SkarnException::raise(const VexFileLocation& location, const char* function, mirraErrorCode code,
                           std::initializer_list<I18NString> parms, const char* literal)
{
    SkarnMessage message(messageNumberOf(code));
    for (const I18NString& p : parms)
        message << VexMessageParm(p);
    SkarnException e(1, code, message);
    if (literal)
        e << VexMessageString(literal);
    e.hurl(location, function, "VEX_THROW");
}
