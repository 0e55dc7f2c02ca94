#ifndef SKARN_TOOL_ATTACHMENT_SPEC_H
#define SKARN_TOOL_ATTACHMENT_SPEC_H

#include <string>

// One --attach argument, "FILE[;type=MIME][;id=CID]", with the file's bytes.
// The type is guessed from the file name when not given; the content id is
// the file's base name when not given.
class AttachmentSpec {
public:
    // ToolError Usage for an unknown parameter or an unreadable file.
    static AttachmentSpec parse(const std::string& argument);
    // The type that goes with a file name's extension (application/octet-stream when unknown).
    static std::string guessType(const std::string& fileName);
    // A content id as a file name: only letters, digits, '.', '-' and '_'
    // survive (others become '_'), no leading dot, never empty.
    static std::string safeFileName(const std::string& contentId);

    std::string path, type, id, bytes;
};

#endif
