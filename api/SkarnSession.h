#ifndef SKARN_SESSION_H
#define SKARN_SESSION_H

#include "../platform/core/SkarnExport.h"

#include <string>

class SkarnMessageReader;
class SkarnMessageWriter;
class VexIDOM_Element;
class VexIDOM_Node;

// A client session: one exchange after another on one pooled connection.
// Call order: sendRequest (or openRequest, write, closeRequest), then
// getResponse (or openResponse, read, closeResponse); doRequest does both.
// release() closes what is open, gives the connection back and deletes the
// session; deleting it directly gives nothing back.
//
// Virtual slots: 0 destructor, 1-2 setProperty, 3-4 echo, 5 doRequest,
// 6 sendRequest, 7 getResponse, 8 openRequest, 9 closeRequest, 10 openResponse,
// 11 closeResponse, 12 release (pure). The bodies here raise SkarnException
// errNotSupported (message 1841854490).
class SKARN_EXPORT SkarnSession {
public:
    SkarnSession() = default;
    virtual ~SkarnSession();
    virtual void setProperty(const std::string& key, int value);
    virtual void setProperty(const std::string& key, const std::string& value);
    virtual void echo(const char* sfilename);
    virtual void echo(const char* sfilename, const char* mode, int echo_rw);
    virtual void doRequest(VexIDOM_Element& request, VexIDOM_Node& response);
    virtual void sendRequest(VexIDOM_Element& request);
    virtual void getResponse(VexIDOM_Node& response);
    virtual SkarnMessageWriter& openRequest(int attachments);
    virtual void closeRequest(SkarnMessageWriter& w);
    virtual SkarnMessageReader& openResponse();
    virtual void closeResponse(SkarnMessageReader& r);
    virtual void release() = 0;

    // Why a client session would refuse the request header `name` with
    // `value` through its "header:Name" property (a name that is not an RFC
    // 7230 token, a value holding CR, LF or NUL, a header the message writer
    // frames the message with); empty when it takes it. For a host that
    // checks its input before it connects.
    static std::string headerProblem(const std::string& name, const std::string& value);
};

#endif
