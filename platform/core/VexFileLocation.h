#ifndef VEX_FILE_LOCATION_H
#define VEX_FILE_LOCATION_H

#include "SkarnExport.h"

#include <string>

// A place in the source: the file as the compiler names it and a line.
// getUnit() gives the source unit, the file's base name without extension,
// which is what back traces show ("SkrHTTPParser").
class SKARN_EXPORT VexFileLocation {
public:
    VexFileLocation(const char* file, int line) : m_file(file ? file : ""), m_line(line) {}

    const char* getFile() const { return m_file; }
    int getLine() const { return m_line; }
    std::string getUnit() const;

private:
    const char* m_file;  // static storage (__FILE__)
    int m_line;
};

#define VEX_LOCATION VexFileLocation(__FILE__, __LINE__)

#endif
