#include "platform/core/VexFmDir.h"

#include <sys/stat.h>

#include <cstdlib>

std::string VexFmDir::resolveEffectivePath(const char* path)
{
    std::string p = path ? path : "";
    if (!p.empty() && p[0] == '/')
        return p;
    const char* home = std::getenv("SKARN_HOME");
    if (!home || !*home)
        return p;
    std::string base = home;
    if (base.back() != '/')
        base += '/';
    return base + p;
}

int VexFmDir::exists(const char* path, int kind)
{
    struct stat st {};
    if (!path || ::stat(path, &st) != 0)
        return 0;
    if (kind == FILE_KIND)
        return S_ISREG(st.st_mode) ? 1 : 0;
    if (kind == DIRECTORY_KIND)
        return S_ISDIR(st.st_mode) ? 1 : 0;
    return 1;
}
