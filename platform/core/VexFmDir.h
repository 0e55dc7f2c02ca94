#ifndef VEX_FM_DIR_H
#define VEX_FM_DIR_H

#include "SkarnExport.h"

#include <string>

// File-directory helpers.
class SKARN_EXPORT VexFmDir {
public:
    // Kinds for exists().
    enum { FILE_KIND = 0x8000, DIRECTORY_KIND = 0x4000 };

    // A relative path ("../logs/x", "../configuration/Skarn_Config.xml") taken
    // against the base directory named by SKARN_HOME, or the working directory
    // when it is unset or empty. An absolute path is returned as it is.
    static std::string resolveEffectivePath(const char* path);

    // Non-zero when `path` exists and, for kind 0x8000, is a regular file, for
    // 0x4000 a directory; kind 0 accepts anything.
    static int exists(const char* path, int kind);
};

#endif
