#ifndef SKARN_MESSAGE_READER_H
#define SKARN_MESSAGE_READER_H

#include "../platform/core/SkarnExport.h"

class QioInputStream;
class SkarnAttachmentReader;
class VexIDOM_Node;

// Reads one HTTP message: a request (server side) or a response (client side).
// The envelope comes first (getEnvelope, or openEnvelope/closeEnvelope), then
// the attachments one by one. A message without a body (a "202 Accepted" or
// "204 No Content" answer to a one-way request, "Content-Length: 0") carries
// no envelope: getEnvelope then appends nothing and raises nothing (see
// SkrMessageReader). Every slot is pure:
// 0 destructor, 1 getEnvelope, 2 openEnvelope, 3 closeEnvelope,
// 4 canHaveAttachments, 5 hasMoreAttachments, 6 openNextAttachment,
// 7 closeAttachment, 8 getHeader.
class SKARN_EXPORT SkarnMessageReader {
public:
    // request 1: reads a request; 0: a response.
    explicit SkarnMessageReader(int request) : m_request(request) {}
    virtual ~SkarnMessageReader();
    virtual void getEnvelope(VexIDOM_Node& envelope) = 0;
    virtual QioInputStream& openEnvelope() = 0;
    virtual void closeEnvelope(QioInputStream& s) = 0;
    virtual int canHaveAttachments() = 0;
    virtual int hasMoreAttachments() = 0;
    virtual SkarnAttachmentReader& openNextAttachment() = 0;
    virtual void closeAttachment(SkarnAttachmentReader& a) = 0;
    virtual const char* getHeader(const char* name) = 0;

    int isRequest() const { return m_request; }

protected:
    int m_request;

private:
    SkarnMessageReader() : m_request(0) {}
};

#endif
