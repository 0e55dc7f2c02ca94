#include "platform/core/VexUnsupportedOperationError.h"

VexUnsupportedOperationError::~VexUnsupportedOperationError() = default;
