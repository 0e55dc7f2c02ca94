#include "platform/core/VexUtSystemInfo.h"

#include <unistd.h>

long VexUtSystemInfo::getProcessId() { return static_cast<long>(::getpid()); }
