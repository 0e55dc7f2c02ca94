#ifndef SKARN_TEST_SKARN_TEST_SERVER_H
#define SKARN_TEST_SKARN_TEST_SERVER_H

// Helpers written on the public headers only, so that a program linked to
// libskarn.so alone can use them as a host would.

#include <string>

class VexIDOM_Document;
class VexIDOM_Node;

// A SOAP envelope whose body holds one element m:Echo with `text`; owned by the caller.
VexIDOM_Document* soapEnvelope(const std::string& text);
// The node serialised as UTF-8.
std::string serialiseNode(const VexIDOM_Node& node);
// Reads from `fd` until the bytes read end with `mark`, the peer closes, or 10 s pass.
std::string readUntil(int fd, const std::string& mark);

#endif
