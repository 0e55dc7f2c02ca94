#include "platform/core/VexIllegalArgumentError.h"

VexIllegalArgumentError::~VexIllegalArgumentError() = default;
