#ifndef VEX_IDOM_DOM_EXCEPTION_H
#define VEX_IDOM_DOM_EXCEPTION_H

#include "../core/VexException.h"

// A DOM operation that the tree refused (wrong document, wrong node type,
// a name that is not an XML name, ...). The code is the DOM's own exception
// code (getCode(): 1 INDEX_SIZE_ERR ... 17 TYPE_MISMATCH_ERR); the one message
// is a literal text that says what was refused. Severity 2.
class SKARN_EXPORT VexIDOM_DOMException : public VexException {
    VEX_THROWABLE_BODY(VexIDOM_DOMException)
public:
    enum { INVALID_CHARACTER_ERR = 5, NOT_FOUND_ERR = 8, NOT_SUPPORTED_ERR = 9, TYPE_MISMATCH_ERR = 17 };

    VexIDOM_DOMException(int code, const char* text);
    ~VexIDOM_DOMException() override;

    int getCode() const { return getErrorCode(); }
};

#endif
