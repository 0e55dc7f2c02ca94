#include "platform/core/VexIllegalStateError.h"

VexIllegalStateError::~VexIllegalStateError() = default;
