#include "platform/core/VexAssertError.h"

VexAssertError::~VexAssertError() = default;
