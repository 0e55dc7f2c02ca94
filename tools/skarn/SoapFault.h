#ifndef SKARN_TOOL_SOAP_FAULT_H
#define SKARN_TOOL_SOAP_FAULT_H

#include <string>

class VexIDOM_Node;

// SOAP faults (1.1 and 1.2): the envelope a server answers a bad request
// with, and the fault a client finds in a response.
class SoapFault {
public:
    // A whole envelope whose body is one Fault with faultcode "soap:<code>"
    // and `text` (escaped) as faultstring.
    static std::string envelope(const char* code, const std::string& text);
    // The SOAP 1.2 form: Code/Value "env:<code>" (Sender, Receiver) and Reason/Text.
    static std::string envelope12(const char* code, const std::string& text);
    // True when the document's body holds a Fault; its faultstring (1.1) or
    // first Reason Text (1.2) goes to `text`.
    static bool find(const VexIDOM_Node& document, std::string& text);
};

#endif
