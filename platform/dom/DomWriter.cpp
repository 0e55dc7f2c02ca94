#include "platform/dom/DomWriter.h"

#include <cstring>

DomWriter::~DomWriter() = default;

void DomWriter::writeNewLine() { writeChars("\n", 1); }

const char* DomWriter::getOutputEncoding() const { return "UTF-8"; }

void DomWriter::writeText(const char* text)
{
    if (text)
        writeChars(text, static_cast<unsigned>(std::strlen(text)));
}
