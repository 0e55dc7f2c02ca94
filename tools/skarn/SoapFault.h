#ifndef SKARN_TOOL_SOAP_FAULT_H
#define SKARN_TOOL_SOAP_FAULT_H

#include <string>

class VexIDOM_Node;

// SOAP 1.1 faults: the envelope a server answers a bad request with, and the
// fault a client finds in a response.
class SoapFault {
public:
    // A whole envelope whose body is one Fault with faultcode "soap:<code>"
    // and `text` (escaped) as faultstring.
    static std::string envelope(const char* code, const std::string& text);
    // True when the document's body holds a Fault; its faultstring goes to `text`.
    static bool find(const VexIDOM_Node& document, std::string& text);
};

#endif
