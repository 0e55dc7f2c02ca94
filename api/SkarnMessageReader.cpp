#include "api/SkarnMessageReader.h"

SkarnMessageReader::~SkarnMessageReader() = default;
