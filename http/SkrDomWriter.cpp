#include "http/SkrDomWriter.h"

#include "platform/streams/QioOutputStream.h"

#include <cstring>

SkrDomWriter::~SkrDomWriter() { m_out = nullptr; }

void SkrDomWriter::writeChars(const char* data, unsigned length) { m_out->write(data, length); }

void SkrDomWriter::writeNewLine() { m_out->write("\r\n", 2); }

void SkrDomWriter::writeText(const char* text)
{
    if (text)
        m_out->write(text, static_cast<unsigned>(std::strlen(text)));
}
