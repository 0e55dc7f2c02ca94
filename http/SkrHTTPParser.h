#ifndef SKR_HTTP_PARSER_H
#define SKR_HTTP_PARSER_H

#include "../platform/core/SkarnExport.h"
#include "../platform/core/VexByteBuffer.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class QioBufferedInputStream;

// Reads the head of an HTTP message (start line and header lines up to the
// empty line) from a buffered stream and never reads past that empty line:
// the body stays in the stream. Also reads the header block of one part of a
// multipart body (parseBodyPart).
//
// The header table is keyed by the header name trimmed and in lower case; its
// values are the header values in normal form (HTTPHeader::dump). The last
// occurrence of a repeated header wins. The start-line checks add the
// pseudo-headers "skarn-method", "skarn-uri", "skarn-http-version"
// (request line) and "skarn-http-version", "skarn-status-code",
// "skarn-reason-phrase" (status line); a received header of the same name
// replaces them. Lookups are exact: callers pass lower-case names.
//
// Failures are SkarnExceptions of severity 1, raised from the operation that
// noticed them ("SkrHTTPParser::parseRequest", "::validateRequestLine",
// "::validateResponseLine", "::processHeaders", "::processHeader"):
//   errUnexpectedEnd (6)         the stream ended inside the head; no literal text
//   errBadMethod (7)             method not "POST"/"GET"; literal: the line so far
//                                with "..." (byte check) or the whole line (token check)
//   errBadHttpVersion (8)        version not "HTTP/1.1"/"HTTP/1.0"; literal: the start line
//   errBadRequestLine (9)        fewer than three request-line tokens; literal: the line
//   errBadStatusLine (10)        fewer than two status-line tokens; literal: the line
//   errBadContentType (11), errBadBoundary (12), errBadContentId (13),
//   errBadContentLength (14), errBadTransferEncoding (15): literal: the header line
//   ("content-length" is refused when empty, negative or not a number; 0
//   written in digits is an empty body, RFC 7230 section 3.3.2)
// A null stream fails "VEX_ASSERT(is);". Stream exceptions pass through. The
// parser keeps what it had stored before a failure.
//
// A process-wide limit on the bytes of a message head (start line, header
// lines, line ends, empty lines before the start line and interim 100
// responses included) is off by default; a server host switches it on with
// setHeadLimit. A longer head then fails with errUnexpectedEnd and the literal
// text "the message head is longer than the limit of <n> bytes", after the
// parser has read at most <n> bytes of it. Header blocks of multipart parts
// are not limited.
//
// The fields live in one flat table (names and values side by side in one
// text, in arrival order), so a head costs no allocation per header;
// getHeaders() builds the sorted table from it when a caller asks. A thread
// keeps the table's storage of its last parser for its next one.
//
// Only the message reader and the attachment reader create parsers.
class SKARN_EXPORT SkrHTTPParser {
    friend class SkrMessageReader;
    friend class SkrAttachmentReader;
    friend class SkrHTTPParserTestPeer;

public:
    typedef std::map<std::string, std::string> HeaderTable;

    ~SkrHTTPParser();
    SkrHTTPParser(const SkrHTTPParser&) = delete;
    SkrHTTPParser& operator=(const SkrHTTPParser&) = delete;

    // A request line ("POST"/"GET", URI, "HTTP/1.1"/"HTTP/1.0"; empty lines
    // before it skipped), then the header block.
    void parseRequest(QioBufferedInputStream* is);
    // A status line and its header block; interim responses (status 100 to
    // 199 other than 101; status line and headers) are read and passed over,
    // any number of them.
    void parseResponse(QioBufferedInputStream* is);
    // The header block of a multipart part: all fields and the table are
    // emptied first, no start line is read.
    void parseBodyPart(QioBufferedInputStream* is);

    // Out of line, so that they are entry points of the library.
    int isMultipart() const;
    int isChunked() const;
    // The value of "content-length"; 0 when there was none, as for
    // "Content-Length: 0": hasContentLength() tells the two apart.
    int getContentLength() const;
    // Whether the head carried a "content-length" (0 included).
    bool hasContentLength() const;
    // The status code of the final response as atoi reads its token (0 for
    // a token that is not a number); 0 after a request head or a part's
    // header block. Unlike the "skarn-status-code" entry, a received header
    // cannot replace it.
    int getStatusCode() const;
    const std::string& getContentID();
    const std::string& getContentType();
    // The bare "boundary" attribute of a multipart content type.
    const std::string& getMultipartDelimiter();
    const HeaderTable& getHeaders() const;
    // Whether a received header's name starts with "x-" (what the reader hands
    // on to the thread's header table): no table is built when none does.
    bool hasExtensionHeaders() const;
    // The stored value for exactly `name`, or null; valid until the entry is
    // replaced or the parser destroyed.
    const char* getHeader(const char* name);

    // The head limit in bytes for heads read from now on; 0 turns it off.
    static void setHeadLimit(std::size_t bytes);

private:
    SkrHTTPParser();

    // The request line through the method checks, byte by byte, into the line buffer.
    void readRequestLine(QioBufferedInputStream* is);
    void validateRequestLine(VexByteBuffer& line);
    int validateResponseLine(VexByteBuffer& line);
    void processHeaders(QioBufferedInputStream* is, int process);
    // Whether head lines are taken where they lie in the stream's buffer.
    bool readsInPlace(QioBufferedInputStream* is) const;
    // One header line, trimmed: in the line buffer, or where it lies in the stream's buffer.
    void processHeader(const char* text, std::size_t lineLength);
    [[noreturn]] void failHeader(int code, const char* text, std::size_t length);  // code: a SkarnException error code
    void setHeader(const std::string& name, const std::string& value);
    // Appends bytes and a NUL to the field text; returns where they start.
    std::size_t append(const char* bytes, std::size_t length);
    // Makes a field of the name and value already in the field text (the name
    // last): a new field, or the new value of the field of that name, the
    // name's copy then dropped.
    void setField(std::size_t nameAt, std::size_t nameLength, std::size_t valueAt);
    // The same for a name and value not yet in the field text.
    void setField(const char* name, std::size_t nameLength, const char* value, std::size_t valueLength);
    template <std::size_t N>
    void setField(const char (&name)[N], const char* value, std::size_t valueLength)
    {
        setField(name, N - 1, value, valueLength);
    }
    void clearFields();
    void startHead();
    void countHead(std::size_t bytes, const char* function);  // fails past the head limit
    int readHeadLine(QioBufferedInputStream* is, VexByteBuffer& line, const char* function);

    static const int NO_LENGTH = -1;  // m_contentLength: no "content-length" received
    int m_multipart;
    int m_contentLength;
    int m_chunked;
    int m_statusCode = 0;
    // A field: offsets into m_text of its name and its value, each followed by a NUL.
    struct Field {
        std::uint32_t name, nameLength, value, tag;  // tag: a cheap first test of equal names
    };
    // First and last byte: most names of one head differ in one of them.
    static std::uint32_t tagOf(const char* name, std::size_t length)
    {
        if (length == 0)
            return 0;
        return static_cast<unsigned char>(name[0]) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(name[length - 1])) << 8;
    }
    static std::uint64_t bitOf(std::uint32_t tag, std::size_t length)
    {
        return std::uint64_t(1) << ((tag ^ tag >> 8 ^ length) & 63);
    }
    struct NameHash {
        const SkrHTTPParser* parser;
        std::size_t operator()(std::uint32_t field) const;
    };
    struct NameEqual {
        const SkrHTTPParser* parser;
        bool operator()(std::uint32_t a, std::uint32_t b) const;
    };
    // The field text, the fields and the line buffer, with room for a usual
    // head: taken from the thread's spare when the parser is made and given
    // back, emptied, when it goes.
    struct Storage {
        Storage();
        std::string text;
        std::vector<Field> fields;
        VexByteBuffer line;  // the head line being read
        std::string contentID, contentType, delimiter;
    };
    std::unique_ptr<Storage> m_storage;
    std::string& m_text;
    std::vector<Field>& m_fields;
    VexByteBuffer& m_line;
    std::string& m_contentID;
    std::string& m_contentType;
    std::string& m_delimiter;
    std::uint64_t m_tags = 0;  // a bit per field's tag: a name whose bit is clear needs no search
    std::unordered_set<std::uint32_t, NameHash, NameEqual> m_index;  // only for heads of many fields
    mutable HeaderTable m_table;  // built by getHeaders() from the fields
    mutable bool m_tableValid = false;
    std::size_t m_headLimit = 0;
    std::size_t m_headLeft = static_cast<std::size_t>(-1);  // bytes the head may still take
};

#endif
