#include "platform/core/VexMessage.h"

VexMessage::~VexMessage() = default;
