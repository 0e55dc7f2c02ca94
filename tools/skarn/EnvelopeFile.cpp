#include "EnvelopeFile.h"

#include <skarn/platform/dom/VexIDOM_Document.h>
#include <skarn/platform/dom/VexIDOM_Parser.h>

#include "BytesInputStream.h"
#include "ToolError.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

std::string EnvelopeFile::readBytes(const std::string& path)
{
    if (path == "-") {
        std::ostringstream all;
        all << std::cin.rdbuf();
        return all.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ToolError(ToolError::Usage, "cannot read " + path + ": " + std::strerror(errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ToolError(ToolError::Usage, "cannot read " + path + ": " + std::strerror(errno));
    return bytes;
}

std::string EnvelopeFile::load(const std::string& path)
{
    return check(readBytes(path), path == "-" ? "standard input" : path);
}

std::string EnvelopeFile::check(const std::string& bytes, const std::string& from)
{
    std::string error;
    if (!parse(bytes, error))
        throw ToolError(ToolError::Usage, from + " is not a usable envelope: " + error);
    return bytes;
}

std::unique_ptr<VexIDOM_Document> EnvelopeFile::parse(const std::string& bytes, std::string& error)
{
    auto doc = std::make_unique<VexIDOM_Document>();
    BytesInputStream in(bytes);
    VexIDOM_Parser parser(0);
    if (parser.parse(in, *doc) != 0) {
        error = "line " + std::to_string(parser.getCurrentLineNumber()) + ", column " +
                std::to_string(parser.getCurrentColumnNumber()) + ": " + parser.errorString().str();
        return nullptr;
    }
    if (doc->getDocumentElement().isNull()) {
        error = "no root element";
        return nullptr;
    }
    return doc;
}
