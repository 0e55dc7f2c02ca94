#include "platform/streams/QioOutputStream.h"

QioOutputStream::~QioOutputStream() = default;
void QioOutputStream::flush() {}
void QioOutputStream::close() {}
