#include "api/SkarnMessageWriter.h"

SkarnMessageWriter::~SkarnMessageWriter() = default;
