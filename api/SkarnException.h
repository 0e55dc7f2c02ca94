#ifndef SKARN_EXCEPTION_H
#define SKARN_EXCEPTION_H

#include "SkarnMessage.h"
#include "../platform/core/VexException.h"
#include "../platform/core/VexMessageString.h"

#include <initializer_list>

// The one exception class of the toolkit: severity (always 1 for what the
// toolkit raises), an error code of mirraErrorCode and catalogue messages,
// optionally followed by a literal text (VexMessageString).
//
// Raising idiom:
//   SkarnMessage m(1842183075);
//   SkarnException e(1, SkarnException::errUnexpectedEnd, m);
//   e << VexMessageString(line);                       // optional literal text
//   e.hurl(VEX_LOCATION, "SkrHTTPParser::parseRequest", "VEX_THROW");
// or, the same in one call:
//   SkarnException::raise(VEX_LOCATION, "SkrHTTPParser::parseRequest",
//                         SkarnException::errUnexpectedEnd, {}, nullptr);
//
// Primary virtual slots: 0 destructor, 1 clone, 2 hurl, 3 getMessage(),
// 4 getThrowableName, 5 toString(), 6 getMessage() const, 7 toString(prefix, separator, out, depth).
class SKARN_EXPORT SkarnException : public VexException {
public:
    enum mirraErrorCode {
        errNotSupported = 0,
        errNoAddress = 1,
        errWriterState = 2,
        errSocket = 5,
        errUnexpectedEnd = 6,
        errBadMethod = 7,
        errBadHttpVersion = 8,
        errBadRequestLine = 9,
        errBadStatusLine = 10,
        errBadContentType = 11,
        errBadBoundary = 12,
        errBadContentId = 13,
        errBadContentLength = 14,
        errBadTransferEncoding = 15,
        errEnvelope16 = 16,
        errEnvelope17 = 17,
        errEnvelope18 = 18,
        errNotMultipart = 19,
        errMultipartStructure = 20,
        errMissingConfigValue = 21,
        errHostName = 24,
        errBadQuotedPrintableEscape = 27,
        errBadQuotedPrintableSoftBreak = 28,
        errTransferEncoding = 29,
        errBadUrl = 30,
        errHostNotResolved = 31,
    };

    SkarnException(VexSeverity severity, mirraErrorCode code);
    SkarnException(VexSeverity severity, mirraErrorCode code, VexMessageBase& message);
    SkarnException(const SkarnException& other);
    SkarnException& operator=(const SkarnException& other);
    ~SkarnException() override;

    // Appends a message (a SkarnMessage or a literal VexMessageString); chains.
    SkarnException& operator<<(const VexMessageBase& message);

    VexThrowable* clone() const override;
    // Adds (location, function, macro) to the back trace, then throws a copy
    // of this object as a SkarnException. Never returns.
    [[noreturn]] void hurl(const VexFileLocation& location, const char* function, const char* macro) override;
    const char* getThrowableName() const override;

    // The catalogue message number that goes with an error code (0 for a value
    // the toolkit does not raise).
    static unsigned int messageNumberOf(mirraErrorCode code);

    // The whole idiom: SkarnException(1, code) with SkarnMessage(messageNumberOf(code))
    // carrying `parms`, then `literal` as a VexMessageString when non-null,
    // hurled from `location` with `function` and "VEX_THROW".
    [[noreturn]] static void raise(const VexFileLocation& location, const char* function, mirraErrorCode code,
                                   std::initializer_list<I18NString> parms = {}, const char* literal = nullptr);
};

#endif
