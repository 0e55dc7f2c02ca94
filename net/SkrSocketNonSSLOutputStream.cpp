#include "net/SkrSocketNonSSLOutputStream.h"

#include "net/SkrSocketNonSSL.h"

// The stream code for the plain socket is made here, once.
template class SkrTransportOutputStream<SkrSocketNonSSL>;

SkrSocketNonSSLOutputStream::~SkrSocketNonSSLOutputStream() = default;
