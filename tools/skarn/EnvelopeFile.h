#ifndef SKARN_TOOL_ENVELOPE_FILE_H
#define SKARN_TOOL_ENVELOPE_FILE_H

#include <memory>
#include <string>

class VexIDOM_Document;

// Envelope text from a file or standard input, checked to be well-formed XML
// before anything is sent with it.
class EnvelopeFile {
public:
    // Every byte of `path` ("-": standard input). ToolError Usage when it
    // cannot be read.
    static std::string readBytes(const std::string& path);
    // readBytes, then the XML check: ToolError Usage naming the file and the
    // parser's complaint when the text is not well-formed.
    static std::string load(const std::string& path);
    // The XML check of `bytes`; ToolError Usage naming `from` when they are not well-formed.
    static std::string check(const std::string& bytes, const std::string& from);
    // The parsed document, or null with the parser's complaint in `error`.
    static std::unique_ptr<VexIDOM_Document> parse(const std::string& bytes, std::string& error);
};

#endif
