#include "runtime/SkarnServerHandler.h"

SkarnServerHandler::~SkarnServerHandler() = default;

void SkarnServerHandler::served(const SkarnServerExchange&) {}
