#ifndef SKARN_TOOL_CLIENT_EXCHANGE_H
#define SKARN_TOOL_CLIENT_EXCHANGE_H

#include "AttachmentSpec.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

class ClientSession;
class ProgressMeter;

// One request and its response on a client session: the envelope bytes as
// given, the attachments, the SOAPAction; the response's status, envelope
// bytes as received and attachments.
class ClientExchange {
public:
    struct Request {
        std::string path;  // the URL's, for the heads shown
        std::string envelope;
        std::vector<AttachmentSpec> attachments;
        std::string action;  // the SOAPAction value, quoted unless it already is
        int chunkSize = 0;   // 0: the toolkit's default
        bool contentLength = false;
        bool soap12 = false;
        bool get = false;     // a GET without envelope or parts (a 301, 302 or 303 redirect followed)  // SOAP 1.2 framing: application/soap+xml with the action, no SOAPAction
        std::vector<std::pair<std::string, std::string>> headers;  // the caller's, as the session's "header:Name"
    };
    struct Part {
        std::string id, type, bytes;
    };
    struct Response {
        int status = 0;
        std::string reason, envelope;
        std::string location;  // the Location header, for redirects
        std::string head;  // status line and every field as parsed, CR LF ended, then an empty line
        std::vector<Part> attachments;
        bool closes = false;  // the server ends the connection after this answer
    };
    // What an exchange reports as it goes: the bytes of the envelope and
    // parts written and read, and the heads as the toolkit composes and
    // parses them ("> " and "< " lines).
    struct Watch {
        ProgressMeter* progress;
        std::ostream* heads;
    };

    // The session's properties for `request`: ToolError Usage for a header
    // the toolkit cannot send.
    static void configure(ClientSession& session, const Request& request);
    // Toolkit failures pass unchanged.
    static Response run(ClientSession& session, const Request& request, const Watch& watch = {nullptr, nullptr});
};

#endif
