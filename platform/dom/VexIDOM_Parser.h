#ifndef VEX_IDOM_PARSER_H
#define VEX_IDOM_PARSER_H

#include "../core/I18NString.h"

class QioInputStream;
class VexIDOM_Document;

// Parses XML into a VexIDOM_Document, with namespaces, safely by default:
// a document with a DOCTYPE is refused (so no DTD, no entity declarations, no
// external entities), nothing is fetched from a file or the network, and
// Xerces' entity-expansion limit stays on as a second guard. No validation.
//
// After a failed parse, getCurrentLineNumber / getCurrentColumnNumber /
// getErrorCode / errorString describe the first error (Xerces' error code and
// message text); after a good one they are 0 and empty.
//
// The Xerces parser underneath is kept per thread and reused by the next
// VexIDOM_Parser on that thread, reset between parses (the settings above
// stay); a parser object is used by one thread.
class SKARN_EXPORT VexIDOM_Parser {
public:
    // `options` is reserved: 0 gives the safe settings above.
    explicit VexIDOM_Parser(int options);
    ~VexIDOM_Parser();
    VexIDOM_Parser(const VexIDOM_Parser&) = delete;
    VexIDOM_Parser& operator=(const VexIDOM_Parser&) = delete;

    // Reads `in` to its end and puts the tree into `doc`. Returns 0 when the
    // text is well-formed, else the (non-zero) error code. Exceptions raised
    // by the stream (time-out, socket failure) pass through unchanged.
    // A hosted document (VexIDOM_Document(host)) gets the tree built in the
    // host's document; its children are replaced only by a successful parse.
    int parse(QioInputStream& in, VexIDOM_Document& doc);
    // Parses the file at `path` into `doc`. Returns 1 on success, 0 when the
    // file cannot be read or is not well-formed.
    int parse(const char* path, VexIDOM_Document& doc);

    int getCurrentLineNumber() const { return m_line; }
    int getCurrentColumnNumber() const { return m_column; }
    int getErrorCode() const { return m_code; }
    const I18NString& errorString() const { return m_text; }

    // Largest number of entity expansions Xerces allows in one document.
    static const unsigned ENTITY_EXPANSION_LIMIT = 1000;

    // Limits on what one parse builds, the same for every parse. A document past one of
    // them fails as soon as the piece that goes past it is read, before its
    // node is made, with the code below and an error string naming the
    // limit. They bound the time and memory a hostile document costs:
    // Xerces' work per element grows with the nesting depth and the
    // namespaces in scope, per attribute with the element's attribute count,
    // per name with the distinct names met, and each node costs it half a
    // microsecond or more.
    struct Limits {
        unsigned depth = 256;       // nesting of elements; the root is at depth 1
        unsigned attributes = 128;  // attributes of one element, namespace declarations included
        unsigned namespaces = 128;  // namespace declarations in scope at one element
        unsigned names = 2048;      // distinct element, attribute and namespace names and namespaces
        // The document's cost to build: a text run, CDATA section, comment or
        // PI 1, an element 2 (1 more per 64 levels of depth), an attribute 1
        // (1 more per 32 attributes before it on its element), a namespace
        // declaration 4 more. A unit is about half a microsecond of Xerces' work.
        unsigned cost = 128000;
    };
    static const int TOO_DEEP = -2;
    static const int TOO_MANY_ATTRIBUTES = -3;
    static const int TOO_MANY_NAMESPACES = -4;
    static const int TOO_MANY_NAMES = -5;
    static const int TOO_COSTLY = -6;

    class Impl;

private:
    void reset();
    int parseSource(const void* source);
    int parseInto(const void* source, VexIDOM_Document& doc);

    Impl* m_impl;
    int m_line = 0;
    int m_column = 0;
    int m_code = 0;
    I18NString m_text;
};

#endif
