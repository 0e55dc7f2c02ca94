#ifndef VEX_STD_EXCEPTION_ERROR_H
#define VEX_STD_EXCEPTION_ERROR_H

#include "VexError.h"

#include <exception>

// A standard exception caught at a guarded point, carried on as a throwable:
// its text is "<type>: <what()>".
class SKARN_EXPORT VexStdExceptionError : public VexError {
    VEX_THROWABLE_BODY(VexStdExceptionError)
public:
    explicit VexStdExceptionError(const std::exception& e);
    ~VexStdExceptionError() override;
};

#endif
