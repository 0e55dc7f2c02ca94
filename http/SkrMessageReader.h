#ifndef SKR_MESSAGE_READER_H
#define SKR_MESSAGE_READER_H

#include "../api/SkarnMessageReader.h"
#include "SkrHTTPParser.h"

#include <cstddef>
#include <string>

class QioBlockInputStream;
class QioBufferedInputStream;
class QioChunkedInputStream;
class SkarnSocket;
class SkrAttachmentReader;
class SkrMPInputStream;

// Reads one HTTP message from a connected socket's input stream: a request
// (server side, isRequest 1) or a response (client side, 0). The streams it
// stacks on the socket stream, and owns:
//
//   socket input stream (not owned)
//     -> QioBufferedInputStream(1024)          the head is parsed here
//        -> QioBlockInputStream     no body: a response of status 1xx, 204 or
//                                   304 (whatever its head says), or "content-length: 0"
//         | QioChunkedInputStream   "transfer-encoding: chunked"
//         | QioBlockInputStream     "content-length: n"
//         | (the buffered stream)   neither: the body runs to the end of the connection
//           -> SkrMPInputStream     multipart bodies ("\r\n" given back in front first)
//              -> SkrAttachmentReader   one part at a time; the first part is the envelope
//
// Calling order: getEnvelope (open, parse, close), or openEnvelope, read to
// the end, closeEnvelope; then while hasMoreAttachments(): openNextAttachment,
// read the part, closeAttachment. openEnvelope once per reader.
//
// A message without a body carries no envelope: a response of status 1xx
// (101 Switching Protocols; the interim ones are passed over), 204 or 304, a
// message with "Content-Length: 0", and a single-part body that ends before
// its first byte (an empty chunked body, a connection closed right after the
// head). A one-way operation's "202 Accepted" is the usual case. Then
// getEnvelope appends nothing and returns normally, openEnvelope's stream
// ends at once, canHaveAttachments() is 0 and hasEnvelope() is 0; the
// connection stands at the next message (a 204 without a length does not
// wait for the connection's end). A host that needs an envelope tells the
// case by hasEnvelope(), or by the parent having gained no child, and the
// status by getHeader("skarn-status-code"). A 101 also stops the socket's
// reuse: the connection no longer carries HTTP.
//
// A request's header table goes to the header-propagation manager and its
// tracing headers (values of at most 1 KiB) to the calling thread's tracing
// data; a response's tracing step is taken over. Every failure disables the
// socket's reuse before it leaves. A request carrying "Expect: 100-continue"
// gets the interim answer "HTTP/1.1 100 Continue" on the socket once its head
// is read. The destructor reads the rest of the message (remaining parts, the
// chunked body and its trailer, the rest of a length-delimited body) so that
// the connection stands at the next message, and never throws (finish() does
// the same earlier and says whether it worked). When the rest cannot be read
// (a multipart message deleted inside its envelope part, a broken body), the
// socket's reuse is disabled instead.
class SKARN_EXPORT SkrMessageReader : public SkarnMessageReader {
public:
    // The memory of a deleted object is kept for the next one made on the same
    // thread (VEX_THREAD_RECYCLED_DEFINE, platform/core/VexThreadSpare.h).
    static void* operator new(std::size_t n);
    static void operator delete(void* p, std::size_t n) noexcept;
    SkrMessageReader(int isRequest, QioInputStream& in, SkarnSocket* sock);
    ~SkrMessageReader() override;
    SkrMessageReader(const SkrMessageReader&) = delete;
    SkrMessageReader& operator=(const SkrMessageReader&) = delete;

    // Parses the envelope and appends its document's first child (a copy,
    // imported into the parent's document) under `parent`; appends nothing,
    // and raises nothing, for a message without a body (above). Failures:
    //   errEnvelope16 (message 1842023855, parameters line, column, parser
    //     error code; then the parser's error text as literal): not well-formed
    //   errEnvelope17 (1842090207): the document has no first child
    //   errEnvelope18 (1841551851, parameter the DOM code): the DOM refused the append
    void getEnvelope(VexIDOM_Node& parent) override;
    // Parses the head and stacks the body streams; the stream of the envelope.
    QioInputStream& openEnvelope() override;
    void closeEnvelope(QioInputStream& s) override;
    // The head's multipart flag; 0 for a message without a body.
    int canHaveAttachments() override;
    // 1 when another part follows the one last closed (0 until the envelope is closed).
    int hasMoreAttachments() override;
    // Steps to the next part and reads its headers. VexIllegalStateError
    // "not processing multipart HTTP message" for a single-part message;
    // errNotMultipart (19, message 1841683373) when no part follows.
    SkarnAttachmentReader& openNextAttachment() override;
    void closeAttachment(SkarnAttachmentReader& a) override;
    // A header of the message head by its lower-case name, pseudo-headers
    // ("skarn-status-code", ...) included; null when absent.
    // FIELD_NAMES ("skarn-field-names") answers the names of the head's
    // fields, lower case, sorted, ", " between them (the pseudo-headers left
    // out), so that a caller can show the whole head; valid until the next
    // such call or the reader's end.
    const char* getHeader(const char* name) override;
    static constexpr const char* FIELD_NAMES = "skarn-field-names";

    // Reads what is left of the message (what the destructor would do) and
    // answers whether the connection now stands at the start of the next
    // message: the head was read and the body was framed (a length or
    // chunks) and read to its end. Once only; later calls repeat the answer.
    bool finish();
    // Gives up the rest of the message without reading it (a caller that
    // stops waiting for a stalled peer): the socket's reuse is disabled and
    // the destructor reads nothing.
    void abandon();

    // 1 when the message carries an envelope, 0 when it has no body (above).
    // Known once openEnvelope or getEnvelope has returned; 0 before. Not
    // virtual: the public base's slots stay as they are.
    int hasEnvelope() const;

private:
    // A tracing header's value, or null when absent or longer than
    // TRACING_VALUE_LIMIT: the thread's tracing data keeps what it is given
    // (and the storage it grew to) beyond the request.
    static const std::size_t TRACING_VALUE_LIMIT = 1024;
    const char* tracingHeader(const char* name);
    void saveRequestHeaders();
    void saveTolkResponseHeaders();
    // "HTTP/1.1 100 Continue" for an HTTP/1.1 request carrying "Expect: 100-continue".
    void answerExpectContinue();
    // Clears a cancel request and a time-out left on the socket stream.
    void resetSocketStream();
    void disableReuse();

    int m_more_parts;
    bool m_finished = false;  // finish() or abandon() ran
    std::string m_fieldNames;  // getHeader(FIELD_NAMES)
    bool m_complete = false;  // the message was read to its framed end
    SkrHTTPParser m_parser;
    QioInputStream* m_sock_in;
    QioBufferedInputStream* m_buffered;
    QioChunkedInputStream* m_chunked;
    QioBlockInputStream* m_block;
    SkrAttachmentReader* m_att_reader;
    SkrMPInputStream* m_mp_stream;
    QioInputStream* m_body;
    SkarnSocket* m_sock;
    int m_no_body;  // 1: the message was found to carry no body
};

#endif
