#ifndef NO_SUCH_ELEMENT_EXCEPTION_ST_H
#define NO_SUCH_ELEMENT_EXCEPTION_ST_H

#include "platform/core/VexException.h"

// Raised by VexStringTokenizer::nextToken when no token is left. Callers that
// read a fixed number of tokens catch it to report a short line in their own terms.
class NoSuchElementExceptionST : public VexException {
    VEX_THROWABLE_BODY(NoSuchElementExceptionST)
public:
    NoSuchElementExceptionST() : VexException(1, 0) {}
    ~NoSuchElementExceptionST() override;
};

#endif
