#include "net/SkrSocketInputStream.h"

#include "net/SkrSocket.h"

// The stream code for the secure socket is made here, once.
template class SkrTransportInputStream<SkrSocket>;

SkrSocketInputStream::~SkrSocketInputStream() = default;
