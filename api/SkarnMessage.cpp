#include "api/SkarnMessage.h"

SkarnMessage::SkarnMessage(unsigned int number) : VexMessage("vexsktmsgs", number) {}

SkarnMessage::~SkarnMessage() = default;
