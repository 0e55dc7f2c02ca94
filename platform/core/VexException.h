#ifndef VEX_EXCEPTION_H
#define VEX_EXCEPTION_H

#include "VexMessageSet.h"
#include "VexThrowable.h"

// A throwable with a severity, an error code and messages. Bases: VexThrowable
// first, VexMessageSet second.
class SKARN_EXPORT VexException : public VexThrowable, public VexMessageSet {
public:
    VexException(VexSeverity severity, int code) : m_severity(severity), m_code(code) {}
    VexException(const VexException&) = default;
    VexException& operator=(const VexException&) = default;
    ~VexException() override;

    VexThrowable* clone() const override { return new VexException(*this); }
    [[noreturn]] void hurl(const VexFileLocation& location, const char* function, const char* macro) override;
    const char* getThrowableName() const override { return "VexException"; }
    using VexThrowable::getMessage;
    // The formatted messages, joined by "; ".
    I18NString getMessage() const override;
    using VexThrowable::toString;
    I18NString& toString(const char* prefix, const char* separator, I18NString& out, int depth) const override;

    int getErrorCode() const { return m_code; }
    VexSeverity getSeverity() const { return m_severity; }

private:
    VexSeverity m_severity;
    int m_code;
};

// Declares the clone/hurl/name trio of a concrete throwable class so that hurl
// throws the object as its own class.
#define VEX_THROWABLE_BODY(Name)                                                                    \
public:                                                                                             \
    VexThrowable* clone() const override { return new Name(*this); }                               \
    [[noreturn]] void hurl(const VexFileLocation& location, const char* function, const char* macro) \
        override                                                                                    \
    {                                                                                               \
        addBackTrace(location, function, macro);                                                    \
        throw Name(*this);                                                                          \
    }                                                                                               \
    const char* getThrowableName() const override { return #Name; }

#endif
