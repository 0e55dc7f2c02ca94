#include "net/SkrSocketNonSSLInputStream.h"

#include "net/SkrSocketNonSSL.h"

// The stream code for the plain socket is made here, once.
template class SkrTransportInputStream<SkrSocketNonSSL>;

SkrSocketNonSSLInputStream::~SkrSocketNonSSLInputStream() = default;
