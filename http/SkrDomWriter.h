#ifndef SKR_DOM_WRITER_H
#define SKR_DOM_WRITER_H

#include "platform/dom/DomWriter.h"

class QioOutputStream;

// Puts serialised XML (UTF-8, from VexIDOM_Helper::write) onto an output
// stream, not owned. Line ends are CR LF. The stream's exceptions pass through.
// Slots as DomWriter: 0 destructor, 1 writeChars, 2 writeNewLine,
// 3 getOutputEncoding (DomWriter's: "UTF-8"), 4 writeText.
class SkrDomWriter : public DomWriter {
public:
    explicit SkrDomWriter(QioOutputStream& out) : m_out(&out) {}
    ~SkrDomWriter() override;

    void writeChars(const char* data, unsigned length) override;
    void writeNewLine() override;
    void writeText(const char* text) override;

private:
    QioOutputStream* m_out;
};

#endif
