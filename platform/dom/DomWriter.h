#ifndef DOM_WRITER_H
#define DOM_WRITER_H

#include "../core/SkarnExport.h"

// Where VexIDOM_Helper::write puts serialised XML: UTF-8 bytes, already
// escaped. A subclass supplies writeChars; the serialiser gathers its output
// into pieces of some kilobytes, so writeChars sees few, large calls.
// Slots: 0 destructor, 1 writeChars, 2 writeNewLine, 3 getOutputEncoding, 4 writeText.
class SKARN_EXPORT DomWriter {
public:
    virtual ~DomWriter();
    virtual void writeChars(const char* data, unsigned length) = 0;
    // Ends a line (after the XML declaration of a document): here one LF.
    virtual void writeNewLine();
    // The encoding of what is written: "UTF-8".
    virtual const char* getOutputEncoding() const;
    // Writes a C string without its NUL; a null text writes nothing.
    virtual void writeText(const char* text);
};

#endif
