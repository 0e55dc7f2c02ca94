#ifndef HTTP_HEADER_H
#define HTTP_HEADER_H

#include <cstddef>
#include <string>
#include <vector>

class VexByteBuffer;

// One header value in its parsed form: a main value followed by ';'-separated
// attributes, as in
//     multipart/related; type="text/xml"; boundary="a=b"
//
// parse() accepts what peers send: blanks around ';' and '=', quoted
// attribute values with backslash escapes, attributes without '=' and empty
// pieces between ';'s. The main value is kept as received (trimmed), quotes
// included, and a ';' inside a quoted part of it does not end it.
//
// dump() appends the normal form: the main value, then "; name=value" per
// attribute, the value quoted (with '"' and '\' escaped) when it is empty or
// holds blanks, control characters or one of ()<>@,;:\"/[]?= .
//
// Texts returned by getValue/getAttribute belong to the object and stay valid
// until the next parse() or its destruction.
class HTTPHeader {
public:
    HTTPHeader() = default;

    // Parses `text` (the part of a header line after the ':'), replacing what
    // an earlier parse held. Null parses as nothing: getValue() then gives null.
    void parse(const char* text);
    // The main value, without attributes; null before a parse of a text.
    const char* getValue() const;
    // The first attribute called `name` (compared without regard to case),
    // unquoted and unescaped; "" for an attribute given without '='; null when absent.
    const char* getAttribute(const char* name) const;
    // Appends the normal form of the whole value to `out` and returns `out`.
    VexByteBuffer& dump(VexByteBuffer& out) const;
    // The same normal form, appended to a string.
    std::string& dump(std::string& out) const;

    // Whether `length` bytes of a value, trimmed, already are their own
    // normal form (parse then dump gives them back unchanged): a main value
    // without quotes, then attributes written exactly "; name" or
    // "; name=value" with values that need no quotes. Such a value can be
    // stored as received. False is always safe.
    static bool isNormalForm(const char* value, std::size_t length);

private:
    struct Attribute {
        std::string name;
        std::string value;
        bool hasValue;
    };

    std::string m_value;
    bool m_parsed = false;
    std::vector<Attribute> m_attributes;
};

#endif
