#include "platform/core/VexUnexpectedError.h"

VexUnexpectedError::~VexUnexpectedError() = default;
