#ifndef VEX_ERROR_H
#define VEX_ERROR_H

#include "VexException.h"

// Base of the core library's error classes: broken preconditions and
// environment failures. Severity VEX_SEVERITY_ERROR; the code is the caller's
// (the toolkit passes 0); a non-null text is carried as a literal message.
class SKARN_EXPORT VexError : public VexException {
    VEX_THROWABLE_BODY(VexError)
public:
    VexError(int code, const char* text);
    ~VexError() override;
};

// Declares an error class with VexError's constructor.
#define VEX_DECLARE_ERROR(Name)                                          \
    class SKARN_EXPORT Name : public VexError {                          \
        VEX_THROWABLE_BODY(Name)                                         \
    public:                                                              \
        Name(int code, const char* text) : VexError(code, text) {}       \
        ~Name() override;                                                \
    };

#endif
