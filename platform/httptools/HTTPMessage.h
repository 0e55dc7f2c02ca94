#ifndef HTTP_MESSAGE_H
#define HTTP_MESSAGE_H

#include <string>

// Text helpers shared by the HTTP head reader and writer.
class HTTPMessage {
public:
    // Removes leading and trailing white space (blank, tab, CR, LF, VT, FF) in place.
    static void trim(std::string& text);
};

#endif
