#include "conn/SkarnConnectionPool.h"

SkarnConnectionPool::~SkarnConnectionPool() = default;
