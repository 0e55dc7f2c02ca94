#ifndef SKARN_TEST_HTTP_LOOPBACK_SUPPORT_H
#define SKARN_TEST_HTTP_LOOPBACK_SUPPORT_H

// Helpers of the loopback message tests: a connected pair of plain sockets,
// messages read back whole with SkrMessageReader.

#include "support/AcceptedPlainSocket.h"
#include "support/LoopbackPeer.h"

#include <memory>
#include <string>
#include <vector>

class VexIDOM_Document;
class VexIDOM_Node;

// Both ends marked reusable, so a test sees a disableReuse.
struct SocketPair {
    std::unique_ptr<AcceptedPlainSocket> client, server;
};
SocketPair makeSocketPair(LoopbackPeer::Family family = LoopbackPeer::IPv4);

struct InPart {
    std::string id, contentType, bytes;
};
struct Received {
    std::string envelope;  // the received envelope element, serialised
    std::vector<InPart> parts;
};

// The envelope used by these tests, with non-ASCII text and every escape.
VexIDOM_Document* makeEnvelope(const std::string& text);
std::string serialise(const VexIDOM_Node& node);
// Reads a message whole (getEnvelope, then every attachment).
Received readMessage(AcceptedPlainSocket& sock, bool request);
// Every byte value, `times` times.
std::string allByteValues(int times);

#endif
