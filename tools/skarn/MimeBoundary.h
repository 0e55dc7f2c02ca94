#ifndef SKARN_TOOL_MIME_BOUNDARY_H
#define SKARN_TOOL_MIME_BOUNDARY_H

#include <string>
#include <vector>

// A multipart boundary that none of the parts contains: a part holding the
// delimiter line would be cut there by the reading side. The toolkit's
// default boundary is a fixed text, so the tool draws its own per message.
class MimeBoundary {
public:
    // "=_skarn_" and 16 random hexadecimal digits and "_=", drawn again
    // while "--" followed by it occurs in one of `parts`.
    static std::string choose(const std::vector<const std::string*>& parts);
};

#endif
