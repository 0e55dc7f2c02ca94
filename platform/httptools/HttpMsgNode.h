#ifndef HTTP_MSG_NODE_H
#define HTTP_MSG_NODE_H

#include <memory>
#include <string>

class QioOutputStream;
class MultipartHttpMsg;

// One HTTP message, or one part of a multipart message: a head (start line
// and header lines) and a body, written as HTTP/1.1 onto an output stream.
//
//   message:  startRequest / startResponse, setHeader..., body bytes, end()
//   part:     setHeader..., body bytes, then MultipartHttpMsg::endPart
//
// A message's body is framed by its chunk size: 0 collects the body and sends
// it after a "Content-Length" header; a positive size sends
// "Transfer-Encoding: chunked" and chunks of that many bytes (the last one
// shorter). A collected body is kept behind room for its head, so that head
// and body leave in one write() of the stream without copying the body
// again; chunked writes are gathered into one buffer, and chunks of 32 KiB
// and more go out from the caller's bytes without a copy.
//
// Header names and values are written as given, except that CR and LF, which
// would end the line, are written as blanks. Misuse (a header after the head
// was sent, bytes after end(), a message without start line) raises
// VexIllegalStateError; the stream's exceptions pass through.
//
// Slots: 0 destructor, 1 end().
class HttpMsgNode {
public:
    virtual ~HttpMsgNode();
    // Completes the message and sends what is still gathered.
    virtual void end() = 0;

    // Start line "POST <path> HTTP/1.1" (method 0) or "GET <path> HTTP/1.1" (1).
    void startRequest(const char* path, int method);
    // Start line "HTTP/1.1 <code> <reason>".
    void startResponse(int code, const char* reason);
    void setHeader(const char* name, const char* value);
    void setHeader(const char* name, int value);

    // Bytes this node wrote onto its stream so far (message nodes only).
    unsigned long long bytesSent() const { return m_sent; }

protected:
    friend class OnePieceHttpMsg;
    friend class MultipartHttpMsg;

    // `out` null: a part, whose bytes go into its multipart message.
    HttpMsgNode(QioOutputStream* out, int chunkSize);

    // Framing of a message body (message nodes only).
    void writeBody(const char* data, unsigned length);
    void endBody();
    // Headers that the kind of message adds to its head (multipart: its type).
    virtual void addOwnHeaders(std::string& head);

    void checkOpen(const char* function) const;
    void appendHeaderLine(std::string& out, const char* name, const char* value);

    // The node's buffers: taken from the thread's spare when the node is made
    // and given back, emptied, when it goes, so that the messages of a
    // kept-alive connection write through storage grown once.
    struct Buffers {
        std::string head;    // start line and header lines, each ending in CR LF
        std::string gather;  // bytes waiting for the next write()
        std::string chunk;   // a chunk not yet full (chunked bodies)
        std::string body;    // the whole body (length-delimited bodies)
    };
    std::unique_ptr<Buffers> m_buffers;
    std::string& m_head;
    bool m_hasStartLine = false;
    bool m_headSent = false;
    bool m_ended = false;

private:
    void sendHead(unsigned long long contentLength, bool chunked);
    void emitChunk(const char* data, unsigned length);
    void flush();

    QioOutputStream* m_out;
    int m_chunkSize;
    std::string& m_gather;
    std::string& m_chunk;
    std::string& m_body;
    unsigned long long m_sent = 0;
};

#endif
