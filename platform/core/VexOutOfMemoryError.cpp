#include "platform/core/VexOutOfMemoryError.h"

VexOutOfMemoryError::~VexOutOfMemoryError() = default;
