#include "platform/core/VexMessageString.h"

VexMessageString::~VexMessageString() = default;
