#include "api/SkarnAttachmentReader.h"

SkarnAttachmentReader::~SkarnAttachmentReader() = default;
