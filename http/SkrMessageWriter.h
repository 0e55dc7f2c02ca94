#ifndef SKR_MESSAGE_WRITER_H
#define SKR_MESSAGE_WRITER_H

#include "api/SkarnMessageWriter.h"
#include "http/SkrEnabledOutputStream.h"
#include "platform/core/VexThreadSpare.h"

#include <map>
#include <string>

class HttpMsgNode;
class MultipartHttpMsg;
class OnePieceHttpMsg;
class SkarnSocket;

// Writes one HTTP message onto a connected socket's output stream: a request
// (client side) or a response (server side), single-part or multipart/related
// with the envelope as first part. The HTTP framing comes from the message
// objects of the HTTP tools layer; this class composes the start line, the
// headers and the order of the parts.
//
//   w = new SkrMessageWriter(path, isRequest, hasAttachments, sock, chunked, chunkSize, boundary);
//   w->init(); (client) w->setProperties(&sessionProperties);
//   (response, optional) setResponseStatus(code, reason)
//   setEnvelope(node)  |  s = openEnvelope(action); s.write...; closeEnvelope(s)
//   (multipart) addAttachment(...) | s = openAttachment(...); s.write...; closeAttachment(s)   any number
//   close()
//
// Headers, in order: request: SOAPAction, tracing headers (step, source, id,
// source service, XMOTVA), Authorization, Host, the caller's "header:Name"
// entries of the property table (on the head only; the session checks them); response: the status line and
// the tracing step. Single-part envelope: Content-Type "text/xml; charset=UTF-8"
// (SOAP 1.2, setSoap12: "application/soap+xml; charset=UTF-8; action=..." and
// no SOAPAction), Content-ID "envelope". Each part: Content-Type, Content-ID, Authorization,
// Host, Content-Transfer-Encoding, then the caller's extra headers.
//
// The socket and the property table are not owned; the message objects are.
// Every operation except closeEnvelope, closeAttachment and close fails with
// SkarnException errWriterState (message 1841881513) before init or after
// close. Misuse raises VexIllegalStateError or VexAssertError. A failure while
// the message is being written, a write through the stream handed out
// included, disables the socket's reuse before it leaves, so that a
// connection carrying half a message is never pooled again, and abandons the
// message: nothing more is sent (no last chunk, no closing delimiter), and the
// closing operations do nothing. close() with a single-part envelope still
// open ends the message; with a multipart part open it raises.
// The destructor closes a message still open and never throws.
class SkrMessageWriter : public SkarnMessageWriter {
public:
    VEX_THREAD_RECYCLED;
    typedef std::map<std::string, std::string> Properties;

    // `chunked` 0: the body is sent with a Content-Length; else chunks of
    // `chunkSize` bytes (4000 when less than 2). `boundary` null:
    // "=_=mirra-mp-boundary=_=".
    SkrMessageWriter(const char* uriPath, int isRequest, int hasAttachments, SkarnSocket* sock, int chunked,
                     int chunkSize, const char* boundary);
    ~SkrMessageWriter() override;
    SkrMessageWriter(const SkrMessageWriter&) = delete;
    SkrMessageWriter& operator=(const SkrMessageWriter&) = delete;

    void setEnvelope(VexIDOM_Node& envelope) override;
    QioOutputStream& openEnvelope(const char* soapAction) override;
    // SOAPAction "" (two double-quote characters).
    QioOutputStream& openEnvelope() override;
    void closeEnvelope(QioOutputStream& s) override;
    void addAttachment(const char* contentType, const char* charset, const char* extraHeaders, const char* data,
                       unsigned len, const char* contentID) override;
    void addAttachment(const char* contentType, const char* charset, const char* data, unsigned len,
                       const char* contentID) override;
    // The node serialised as a "text/xml" part (charset label "UTF_8").
    void addAttachment(VexIDOM_Node& node, const char* contentID) override;
    // `extraHeaders`: "Name:value" lines separated by CR LF, or null. `mode` 1
    // marks a part the application streams (no effect on the bytes). A null
    // or blank `contentType` is sent as "application/octet-stream". What the
    // reading side would refuse raises VexIllegalArgumentError before anything
    // is sent, and the writer and connection stay usable: a content ID that is
    // null or empty as a header value, a content type whose value is empty or
    // a multipart type without a boundary of 1 to 70 characters, and extra
    // headers the reader checks (empty Content-Type, Content-ID or
    // Transfer-Encoding, a Content-Length that is not a number of 0 or more,
    // Content-Transfer-Encoding base64).
    QioOutputStream& openAttachment(const char* contentType, const char* charset, const char* extraHeaders,
                                    const char* contentID, int mode) override;
    QioOutputStream& openAttachment(const char* contentType, const char* charset, const char* contentID,
                                    int flag) override;
    void closeAttachment(QioOutputStream& s) override;
    // "1", "2", ... for this writer; owned by the caller.
    std::string* getNewAttachmentID() override;
    void close() override;
    void setResponseStatus(int code, const char* reason) override;

    // Creates the message object and, for a request, its request line. A
    // multipart writer whose boundary is empty, longer than 70 characters, or
    // holds a double quote, CR or LF raises VexIllegalArgumentError first.
    void init();
    // SOAP 1.2 framing (before init): the envelope goes as "application/soap+xml;
    // charset=UTF-8", a request's action as its action parameter instead of a
    // SOAPAction header (an empty action: no parameter), a multipart root type
    // "application/soap+xml". Otherwise SOAP 1.1: "text/xml; charset=UTF-8" and SOAPAction.
    void setSoap12(bool soap12) { m_soap12 = soap12; }
    // A response (before it starts): "Connection: close" after the status
    // line's tracing step, for a server that ends the connection after it.
    void setConnectionClose(bool close) { m_closeConnection = close; }
    // Whether the head has gone to the socket (or is on its way).
    bool started() const { return m_status_sent != 0; }
    // A GET request (before init): no envelope and no parts (openEnvelope,
    // setEnvelope and a writer with attachments raise VexIllegalStateError);
    // close() sends the request line, the tracing headers, Authorization,
    // Host, the caller's headers and "Content-Length: 0".
    void setGet(bool get)
    {
        m_get = get;
        if (get)
            m_chunkSize = 0;
    }
    // The session's property table (Authorization, Host, "header:Name"); not owned, may be null.
    void setProperties(Properties* properties) { m_properties = properties; }

    int getChunkSize() const { return m_chunkSize; }
    // The multipart boundary; empty for a single-part writer.
    const std::string& getBoundary() const { return m_boundary; }

private:
    // The body stream's failure hook: a failed write abandons the message.
    static void bodyWriteFailed(void* writer);
    void setExtraHeaders(HttpMsgNode* node);
    void writeTolkRequestHeaders(HttpMsgNode* node);
    // The "header:Name" entries of the property table, on the request head.
    void setCallerHeaders(HttpMsgNode* node);
    void writeTolkResponseHeaders(HttpMsgNode* node);
    // The status line and the response's own headers.
    void startResponse(HttpMsgNode* node);
    // The failure path of a message operation: no reuse, message objects gone.
    void abandonMessage();
    // A part that failed while opening: dropped, and the connection stops being reusable.
    void abandonPart();
    // Disables the body stream and deletes the open part and the message objects.
    void dropMessageObjects();
    // The message object: the multipart one for a writer with attachments, else the single-part one.
    HttpMsgNode* messageNode();
    // Runs one step of writing the message. A failure abandons the message
    // (the connection stops being reusable) and leaves with a back-trace
    // entry naming `function`.
    template <class Step>
    auto writeStep(const char* function, Step&& step) -> decltype(step());
    void checkOpen(const char* function);
    // Body bytes or a serialised node onto the open part; a failure stops reuse.
    void writeWhole(QioOutputStream& s, const char* data, unsigned len);
    void writeNode(QioOutputStream& s, VexIDOM_Node& node);

    int m_chunkSize;
    SkarnSocket* m_sock;
    std::string m_uri_path;
    std::string m_boundary;
    OnePieceHttpMsg* m_op_sender = nullptr;
    MultipartHttpMsg* m_mp_sender = nullptr;
    OnePieceHttpMsg* m_current_part = nullptr;
    unsigned long m_attachment_counter = 0;
    SkrEnabledOutputStream m_body;
    Properties* m_properties = nullptr;
    int m_open = 0;
    bool m_soap12 = false;
    bool m_closeConnection = false;
    bool m_get = false;
};

#endif
