#ifndef SKARN_TOOL_XML_INDENTER_H
#define SKARN_TOOL_XML_INDENTER_H

#include <string>

// Lays serialised XML out one element per line, two spaces per level. An
// element holding only text stays on one line; text that is only white space
// between tags is dropped; everything else is kept as it stands.
class XmlIndenter {
public:
    static std::string indent(const std::string& xml);
};

#endif
