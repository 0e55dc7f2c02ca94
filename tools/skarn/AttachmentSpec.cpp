#include "AttachmentSpec.h"

#include "EnvelopeFile.h"
#include "ToolError.h"

#include <cctype>
#include <map>

AttachmentSpec AttachmentSpec::parse(const std::string& argument)
{
    AttachmentSpec spec;
    std::size_t at = argument.find(';');
    spec.path = argument.substr(0, at);
    while (at != std::string::npos) {
        const std::size_t next = argument.find(';', at + 1);
        const std::string parameter = argument.substr(at + 1, next == std::string::npos ? next : next - at - 1);
        if (parameter.compare(0, 5, "type=") == 0)
            spec.type = parameter.substr(5);
        else if (parameter.compare(0, 3, "id=") == 0)
            spec.id = parameter.substr(3);
        else
            throw ToolError(ToolError::Usage, "--attach " + argument + ": unknown parameter \"" + parameter +
                                                  "\" (type=MIME or id=CID)");
        at = next;
    }
    if (spec.path.empty())
        throw ToolError(ToolError::Usage, "--attach " + argument + ": no file name");
    if (spec.type.empty())
        spec.type = guessType(spec.path);
    if (spec.id.empty())
        spec.id = spec.path.substr(spec.path.find_last_of('/') + 1);
    spec.bytes = EnvelopeFile::readBytes(spec.path);
    return spec;
}

std::string AttachmentSpec::guessType(const std::string& fileName)
{
    static const std::map<std::string, std::string> types = {
        {"xml", "text/xml"},          {"txt", "text/plain"},       {"html", "text/html"},
        {"htm", "text/html"},         {"csv", "text/csv"},         {"json", "application/json"},
        {"pdf", "application/pdf"},   {"zip", "application/zip"},  {"gz", "application/gzip"},
        {"png", "image/png"},         {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},         {"svg", "image/svg+xml"},    {"bin", "application/octet-stream"}};
    const std::size_t dot = fileName.find_last_of('.');
    const std::size_t slash = fileName.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "application/octet-stream";
    std::string extension = fileName.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = types.find(extension);
    return it == types.end() ? "application/octet-stream" : it->second;
}

std::string AttachmentSpec::safeFileName(const std::string& contentId)
{
    std::string name;
    for (char c : contentId)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ? c : '_';
    while (!name.empty() && name[0] == '.')
        name.erase(0, 1);
    return name.empty() ? "attachment" : name;
}
