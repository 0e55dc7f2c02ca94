#include "net/SkrSocketOutputStream.h"

#include "net/SkrSocket.h"

// The stream code for the secure socket is made here, once.
template class SkrTransportOutputStream<SkrSocket>;

SkrSocketOutputStream::~SkrSocketOutputStream() = default;
