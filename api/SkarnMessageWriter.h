#ifndef SKARN_MESSAGE_WRITER_H
#define SKARN_MESSAGE_WRITER_H

#include "../platform/core/SkarnExport.h"

#include <string>

class QioOutputStream;
class VexIDOM_Node;

// Writes one HTTP message: a request (client side) or a response (server
// side), with attachments when built for them. The envelope first
// (setEnvelope, or openEnvelope/closeEnvelope), then the attachments, then close().
// Every slot is pure: 0 destructor, 1 setEnvelope, 2 openEnvelope(soapAction),
// 3 openEnvelope(), 4 closeEnvelope, 5-7 addAttachment, 8-9 openAttachment,
// 10 closeAttachment, 11 getNewAttachmentID, 12 close, 13 setResponseStatus.
class SKARN_EXPORT SkarnMessageWriter {
public:
    SkarnMessageWriter() = default;
    SkarnMessageWriter(int request, int attachments) : m_request(request), m_has_attachments(attachments) {}
    virtual ~SkarnMessageWriter();
    virtual void setEnvelope(VexIDOM_Node& envelope) = 0;
    virtual QioOutputStream& openEnvelope(const char* soapAction) = 0;
    virtual QioOutputStream& openEnvelope() = 0;
    virtual void closeEnvelope(QioOutputStream& s) = 0;
    virtual void addAttachment(const char* contentType, const char* charset, const char* extraHeaders,
                               const char* data, unsigned len, const char* contentID) = 0;
    virtual void addAttachment(const char* contentType, const char* charset, const char* data, unsigned len,
                               const char* contentID) = 0;
    virtual void addAttachment(VexIDOM_Node& node, const char* contentID) = 0;
    virtual QioOutputStream& openAttachment(const char* contentType, const char* charset, const char* extraHeaders,
                                            const char* contentID, int mode) = 0;
    virtual QioOutputStream& openAttachment(const char* contentType, const char* charset, const char* contentID,
                                            int flag) = 0;
    virtual void closeAttachment(QioOutputStream& s) = 0;
    // A new identifier ("1", "2", ...), owned by the caller.
    virtual std::string* getNewAttachmentID() = 0;
    virtual void close() = 0;
    virtual void setResponseStatus(int code, const char* reason) = 0;

    int isRequest() const { return m_request; }
    int hasAttachments() const { return m_has_attachments; }
    int getResponseStatusCode() const { return m_status_code; }
    const char* getResponseReason() const { return m_reason; }

protected:
    int m_request = 0;
    int m_has_attachments = 0;
    int m_status_sent = 0;
    int m_status_code = 200;
    char m_reason[32] = "OK";  // at most 31 characters and the NUL
};

#endif
