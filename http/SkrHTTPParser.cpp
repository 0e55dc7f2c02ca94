#include "http/SkrHTTPParser.h"

#include "api/SkarnException.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/core/VexUtConvert.h"
#include "platform/httptools/HTTPHeader.h"
#include "platform/streams/QioBufferedInputStream.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <typeinfo>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Raises `code` with its catalogue message and, when given, the bytes of
// `literal` as a literal text (NUL bytes of a hostile line included).
[[noreturn]] void fail(const VexFileLocation& location, const char* function, SkarnException::mirraErrorCode code,
                       const VexByteBuffer* literal)
{
    SkarnMessage message(SkarnException::messageNumberOf(code));
    SkarnException e(1, code, message);
    if (literal)
        e << VexMessageString(I18NString(literal->getData(), literal->length()));
    e.hurl(location, function, "VEX_THROW");
}

bool isEmpty(const char* value) { return value == nullptr || *value == '\0'; }

// Whether a text is one or more decimal digits and nothing else.
bool isDigits(const char* text)
{
    if (*text == '\0')
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// A decimal number as atoi reads it (blanks, sign, digits), saturating
// instead of overflowing.
int toInt(const char* text)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    const long long cap = static_cast<long long>(INT_MAX) + 1;
    long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        v = v >= cap ? cap : v * 10 + (*p - '0');
    if (negative)
        return v >= cap ? INT_MIN : static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

std::string lowered(const char* text)
{
    std::string s(text);
    VexUtConvert::strlwr(s);
    return s;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// `n` bytes in lower case (ASCII letters only), sixteen at a time with SSE2.
void lowerInto(char* to, const char* from, std::size_t n)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i beforeA = _mm_set1_epi8('A' - 1), afterZ = _mm_set1_epi8('Z' + 1), bit = _mm_set1_epi8(0x20);
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        // Signed compares: bytes from 0x80 up are negative, never letters.
        __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, beforeA), _mm_cmplt_epi8(v, afterZ));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_or_si128(v, _mm_and_si128(upper, bit)));
    }
#endif
    // Eight at a time in a word: a byte below 0x80 from 'A' to 'Z' gains 0x20.
    const std::uint64_t ones = 0x0101010101010101ULL;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x;
        std::memcpy(&x, from + i, 8);
        const std::uint64_t low7 = x & (0x7F * ones);
        const std::uint64_t fromA = low7 + (0x80 - 'A') * ones;  // high bit: at least 'A'
        const std::uint64_t pastZ = low7 + (0x7F - 'Z') * ones;  // high bit: past 'Z'
        x |= (fromA & ~pastZ & ~x & (0x80 * ones)) >> 2;
        std::memcpy(to + i, &x, 8);
    }
    for (; i < n; ++i)
        to[i] = lower(from[i]);
}

// Whether `length` bytes of text start with `prefix` (lower case), letter case aside.
bool startsLowered(const char* text, std::size_t length, const char* prefix)
{
    for (; *prefix; ++prefix, ++text, --length)
        if (length == 0 || lower(*text) != *prefix)
            return false;
    return true;
}

// The start line's words: runs of bytes between blanks and tabs, up to the
// line's first NUL.
class Words {
public:
    explicit Words(const char* text) : m_at(text) {}
    // The next word, or false when none is left.
    bool next(const char*& word, std::size_t& length)
    {
        skipBlanks();
        if (*m_at == '\0')
            return false;
        word = m_at;
        while (*m_at != '\0' && *m_at != ' ' && *m_at != '\t')
            ++m_at;
        length = static_cast<std::size_t>(m_at - word);
        return true;
    }
    // Everything after the blanks that follow the last word read.
    const char* rest()
    {
        skipBlanks();
        return m_at;
    }

private:
    void skipBlanks()
    {
        while (*m_at == ' ' || *m_at == '\t')
            ++m_at;
    }
    const char* m_at;
};

bool equals(const char* word, std::size_t length, const char* literal)
{
    return length == std::strlen(literal) && std::memcmp(word, literal, length) == 0;
}

bool isVersion(const char* word, std::size_t length)
{
    return equals(word, length, "HTTP/1.1") || equals(word, length, "HTTP/1.0");
}

// The request line's first bytes: empty lines, then "POST" or "GET".
enum MethodState { LineStart, AfterCR, P, PO, POS, G, GE, MethodRead, Refused };

MethodState nextState(MethodState s, int c)
{
    switch (s) {
    case LineStart:
        if (c == '\r') return AfterCR;
        if (c == '\n') return LineStart;
        if (c == 'P') return P;
        if (c == 'G') return G;
        return Refused;
    case AfterCR: return c == '\n' ? LineStart : Refused;
    case P: return c == 'O' ? PO : Refused;
    case PO: return c == 'S' ? POS : Refused;
    case POS: return c == 'T' ? MethodRead : Refused;
    case G: return c == 'E' ? GE : Refused;
    case GE: return c == 'T' ? MethodRead : Refused;
    default: return Refused;
    }
}

std::atomic<std::size_t> headLimit{0};

const std::size_t UNLIMITED = static_cast<std::size_t>(-1);

// The thread's header object is not kept after a line longer than this:
// storage that grew for one long value is given back.
const std::size_t KEEP_HEADER = 4096;

}  // namespace

void SkrHTTPParser::setHeadLimit(std::size_t bytes) { headLimit.store(bytes); }

void SkrHTTPParser::startHead()
{
    std::size_t limit = headLimit.load();
    m_headLimit = limit;
    m_headLeft = limit ? limit : UNLIMITED;
}

void SkrHTTPParser::countHead(std::size_t bytes, const char* function)
{
    if (m_headLeft == UNLIMITED)
        return;
    if (bytes > m_headLeft) {
        VexByteBuffer text(64, 64);
        text.append("the message head is longer than the limit of ");
        text.append(std::to_string(m_headLimit).c_str());
        text.append(" bytes");
        fail(VEX_LOCATION, function, SkarnException::errUnexpectedEnd, &text);
    }
    m_headLeft -= bytes;
}

int SkrHTTPParser::readHeadLine(QioBufferedInputStream* is, VexByteBuffer& line, const char* function)
{
    if (m_headLeft == UNLIMITED)
        return is->readline(line);
    // Pieces no larger than what is left of the limit (and than the reader's
    // buffer, so that giving back the bytes after the line end is a copy
    // within it): the line never holds more than the limit.
    int total = 0;
    char piece[512];
    for (;;) {
        std::size_t want = m_headLeft < sizeof piece ? m_headLeft : sizeof piece;
        if (want == 0)
            want = 1;  // one more byte: the line end, or the refusal
        unsigned got = is->read(piece, static_cast<unsigned>(want));
        if (got == QioInputStream::END || got == 0)
            return total ? total : -1;
        const void* lf = std::memchr(piece, '\n', got);
        unsigned n = lf ? static_cast<unsigned>(static_cast<const char*>(lf) - piece) + 1 : got;
        if (n < got)
            is->unread(piece + n, got - n);
        countHead(n, function);
        line.append(piece, n);
        total += static_cast<int>(n);
        if (lf)
            return total;
    }
}

namespace {

// Storage grown past these by a large head is freed, not kept for the next parser.
const std::size_t KEEP_TEXT = 16 * 1024;
const std::size_t KEEP_FIELDS = 256;

}  // namespace

// Room for a usual head up front: no growth while it is read.
SkrHTTPParser::Storage::Storage() : line(256, 256)
{
    text.reserve(1024);
    fields.reserve(24);
}

SkrHTTPParser::SkrHTTPParser()
    : m_multipart(0),
      m_contentLength(NO_LENGTH),
      m_chunked(0),
      m_storage(VexThreadSpare<Storage>::take()),
      m_text(m_storage->text),
      m_fields(m_storage->fields),
      m_line(m_storage->line),
      m_contentID(m_storage->contentID),
      m_contentType(m_storage->contentType),
      m_delimiter(m_storage->delimiter),
      m_index(0, NameHash{this}, NameEqual{this})
{
}

SkrHTTPParser::~SkrHTTPParser()
{
    if (m_text.capacity() > KEEP_TEXT || m_fields.capacity() > KEEP_FIELDS || m_line.capacity() > KEEP_TEXT)
        return;
    m_text.clear();
    m_fields.clear();
    m_line.reset();
    m_contentID.clear();
    m_contentType.clear();
    m_delimiter.clear();
    VexThreadSpare<Storage>::give(std::move(m_storage));
}

int SkrHTTPParser::isMultipart() const { return m_multipart; }
int SkrHTTPParser::isChunked() const { return m_chunked; }
int SkrHTTPParser::getContentLength() const { return m_contentLength == NO_LENGTH ? 0 : m_contentLength; }
bool SkrHTTPParser::hasContentLength() const { return m_contentLength != NO_LENGTH; }
int SkrHTTPParser::getStatusCode() const { return m_statusCode; }
const std::string& SkrHTTPParser::getContentID() { return m_contentID; }
const std::string& SkrHTTPParser::getContentType() { return m_contentType; }
const std::string& SkrHTTPParser::getMultipartDelimiter() { return m_delimiter; }
const SkrHTTPParser::HeaderTable& SkrHTTPParser::getHeaders() const
{
    if (!m_tableValid) {
        m_table.clear();
        for (const Field& f : m_fields)
            m_table.emplace(std::string(m_text, f.name, f.nameLength), std::string(m_text.c_str() + f.value));
        m_tableValid = true;
    }
    return m_table;
}

bool SkrHTTPParser::hasExtensionHeaders() const
{
    for (const Field& f : m_fields)
        if (f.nameLength > 2 && m_text.compare(f.name, 2, "x-") == 0)
            return true;
    return false;
}

const char* SkrHTTPParser::getHeader(const char* name)
{
    if (!name)
        return nullptr;
    std::size_t length = std::strlen(name);
    std::uint32_t tag = tagOf(name, length);
    if (!(m_tags & bitOf(tag, length)))
        return nullptr;
    for (const Field& f : m_fields)
        if (f.tag == tag && f.nameLength == length && std::memcmp(m_text.data() + f.name, name, length) == 0)
            return m_text.c_str() + f.value;
    return nullptr;
}

void SkrHTTPParser::clearFields()
{
    m_text.clear();
    m_fields.clear();
    m_index.clear();
    m_tags = 0;
    m_tableValid = false;
}

std::size_t SkrHTTPParser::append(const char* bytes, std::size_t length)
{
    std::size_t at = m_text.size();
    m_text.append(bytes, length);
    m_text += '\0';
    return at;
}

std::size_t SkrHTTPParser::NameHash::operator()(std::uint32_t i) const
{
    const Field& f = parser->m_fields[i];
    return std::hash<std::string_view>()(std::string_view(parser->m_text.data() + f.name, f.nameLength));
}

bool SkrHTTPParser::NameEqual::operator()(std::uint32_t i, std::uint32_t j) const
{
    const Field& a = parser->m_fields[i];
    const Field& b = parser->m_fields[j];
    return a.tag == b.tag && a.nameLength == b.nameLength &&
           std::memcmp(parser->m_text.data() + a.name, parser->m_text.data() + b.name, a.nameLength) == 0;
}

void SkrHTTPParser::setField(std::size_t nameAt, std::size_t nameLength, std::size_t valueAt)
{
    m_tableValid = false;
    const char* text = m_text.data();
    const std::uint32_t tag = tagOf(text + nameAt, nameLength);
    const std::uint32_t value = static_cast<std::uint32_t>(valueAt);
    const std::uint64_t bit = bitOf(tag, nameLength);
    const bool seen = (m_tags & bit) != 0;
    m_tags |= bit;
    if (seen && m_index.empty()) {
        for (Field& f : m_fields)
            if (f.tag == tag && f.nameLength == nameLength && std::memcmp(text + f.name, text + nameAt, nameLength) == 0) {
                // The last occurrence wins; the old value's bytes stay unused until the next head.
                f.value = value;
                m_text.resize(nameAt);
                return;
            }
    }
    // Written in place, member by member: a whole Field built on the stack
    // first would be read back before its four stores have landed.
    Field& added = m_fields.emplace_back();
    added.name = static_cast<std::uint32_t>(nameAt);
    added.nameLength = static_cast<std::uint32_t>(nameLength);
    added.value = value;
    added.tag = tag;
    // Past a usual head's count, names are found through a hash index, so that
    // a head of many thousand fields costs no quadratic search.
    const std::size_t LINEAR = 32;
    if (m_fields.size() <= LINEAR)
        return;
    if (m_index.empty()) {
        m_index.reserve(2 * m_fields.size());
        for (std::uint32_t i = 0; i + 1 < m_fields.size(); ++i)
            m_index.insert(i);
    }
    auto found = m_index.insert(static_cast<std::uint32_t>(m_fields.size() - 1));
    if (!found.second) {
        m_fields[*found.first].value = value;
        m_fields.pop_back();
        m_text.resize(nameAt);
    }
}

void SkrHTTPParser::parseRequest(QioBufferedInputStream* is)
{
    VEX_ASSERT(is);
    m_multipart = 0;
    m_contentLength = NO_LENGTH;
    m_chunked = 0;
    m_statusCode = 0;
    startHead();
    VexByteBuffer& line = m_line;
    line.reset();

    // A request line already whole in the buffer and starting with a method
    // is taken in one piece; anything else goes through the byte checks.
    unsigned n = 0;
    const char* view = readsInPlace(is) ? is->peekLine(n) : nullptr;
    if (view && ((n >= 4 && std::memcmp(view, "POST", 4) == 0) || (n >= 3 && std::memcmp(view, "GET", 3) == 0))) {
        line.append(view, n);
        is->skip(n);
    } else {
        readRequestLine(is);
    }
    line.trim();
    validateRequestLine(line);
    processHeaders(is, 1);
}

void SkrHTTPParser::readRequestLine(QioBufferedInputStream* is)
{
    VexByteBuffer& line = m_line;
    MethodState state = LineStart;
    while (state != MethodRead) {
        int c = is->read();
        if (c < 0)
            fail(VEX_LOCATION, "SkrHTTPParser::parseRequest", SkarnException::errUnexpectedEnd, nullptr);
        countHead(1, "SkrHTTPParser::parseRequest");
        if (state == LineStart)
            line.reset();
        line.append(static_cast<char>(c));
        state = nextState(state, c);
        if (state == Refused) {
            // Show the peer's bytes around the refusal: up to 21 more of them.
            for (int i = 0; i < 21; ++i) {
                int more = is->read();
                if (more < 0)
                    break;
                line.append(static_cast<char>(more));
            }
            line.append("...");
            fail(VEX_LOCATION, "SkrHTTPParser::parseRequest", SkarnException::errBadMethod, &line);
        }
    }
    if (readHeadLine(is, line, "SkrHTTPParser::parseRequest") < 0)
        fail(VEX_LOCATION, "SkrHTTPParser::parseRequest", SkarnException::errUnexpectedEnd, nullptr);
}

void SkrHTTPParser::setHeader(const std::string& name, const std::string& value)
{
    setField(name.data(), name.size(), value.data(), value.size());
}

void SkrHTTPParser::setField(const char* name, std::size_t nameLength, const char* value, std::size_t valueLength)
{
    std::size_t valueAt = append(value, valueLength);
    setField(append(name, nameLength), nameLength, valueAt);
}

void SkrHTTPParser::validateRequestLine(VexByteBuffer& line)
{
    static const char FUNCTION[] = "SkrHTTPParser::validateRequestLine";
    Words words(line.getData());
    const char* word;
    std::size_t length;
    if (!words.next(word, length))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadRequestLine, &line);
    if (!equals(word, length, "POST") && !equals(word, length, "GET"))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadMethod, &line);
    setField("skarn-method", word, length);
    if (!words.next(word, length))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadRequestLine, &line);
    setField("skarn-uri", word, length);
    if (!words.next(word, length))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadRequestLine, &line);
    if (!isVersion(word, length))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadHttpVersion, &line);
    setField("skarn-http-version", word, length);
}

void SkrHTTPParser::parseResponse(QioBufferedInputStream* is)
{
    VEX_ASSERT(is);
    m_multipart = 0;
    m_contentLength = NO_LENGTH;
    m_chunked = 0;
    m_statusCode = 0;
    startHead();
    VexByteBuffer& line = m_line;
    for (;;) {
        line.reset();
        if (readHeadLine(is, line, "SkrHTTPParser::parseResponse") < 0)
            fail(VEX_LOCATION, "SkrHTTPParser::parseResponse", SkarnException::errUnexpectedEnd, nullptr);
        line.trim();
        if (line.length() == 0)
            continue;
        int status = validateResponseLine(line);
        // An interim response (1xx other than 101 Switching Protocols, which
        // ends the exchange): its headers are read and passed over, and the
        // final response follows (RFC 7231 section 6.2).
        const bool interim = status >= 100 && status < 200 && status != 101;
        processHeaders(is, interim ? 0 : 1);
        if (!interim) {
            m_statusCode = status;
            return;
        }
    }
}

int SkrHTTPParser::validateResponseLine(VexByteBuffer& line)
{
    static const char FUNCTION[] = "SkrHTTPParser::validateResponseLine";
    Words words(line.getData());
    const char* word;
    std::size_t length;
    if (!words.next(word, length))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadStatusLine, &line);
    if (!isVersion(word, length))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadHttpVersion, &line);
    setField("skarn-http-version", word, length);
    if (!words.next(word, length))
        fail(VEX_LOCATION, FUNCTION, SkarnException::errBadStatusLine, &line);
    std::size_t statusAt = m_text.size();
    setField("skarn-status-code", word, length);
    int status = toInt(m_text.c_str() + statusAt);
    const char* reason = words.rest();
    setField("skarn-reason-phrase", reason, std::strlen(reason));
    return status;
}

void SkrHTTPParser::processHeaders(QioBufferedInputStream* is, int process)
{
    VEX_ASSERT(is);
    VexByteBuffer& line = m_line;
    const bool inPlace = readsInPlace(is);
    for (;;) {
        unsigned n = 0;
        const char* view = inPlace ? is->peekLine(n) : nullptr;
        if (view) {
            is->skip(n);
            const char* end = view + n;
            while (end > view && isSpace(end[-1]))
                --end;
            while (view < end && isSpace(*view))
                ++view;
            if (view == end)
                return;
            if (process)
                processHeader(view, static_cast<std::size_t>(end - view));
            continue;
        }
        line.reset();
        if (readHeadLine(is, line, "SkrHTTPParser::processHeaders") < 0)
            fail(VEX_LOCATION, "SkrHTTPParser::processHeaders", SkarnException::errUnexpectedEnd, nullptr);
        line.trim();
        if (line.length() == 0)
            return;
        if (process)
            processHeader(line.getData(), line.length());
    }
}

bool SkrHTTPParser::readsInPlace(QioBufferedInputStream* is) const
{
    // A line already whole in the stream's buffer is parsed where it lies.
    // Lines under a head limit are counted as they are read, and streams
    // that read their buffer their own way (multipart parts) hand out lines
    // only through readline.
    return m_headLeft == UNLIMITED && typeid(*is) == typeid(QioBufferedInputStream);
}

void SkrHTTPParser::failHeader(int code, const char* text, std::size_t length)
{
    // The literal is the header line, trimmed.
    if (text != m_line.getData()) {
        m_line.reset();
        m_line.append(text, static_cast<unsigned>(length));
    }
    fail(VEX_LOCATION, "SkrHTTPParser::processHeader", static_cast<SkarnException::mirraErrorCode>(code), &m_line);
}

namespace {

// The names whose values the parser checks.
enum class Checked { None, ContentType, ContentId, ContentLength, TransferEncoding };

// Whether `n` bytes of name are `literal` (lower case), letter case aside.
bool isName(const char* name, std::size_t n, const char* literal, std::size_t literalLength)
{
    if (n != literalLength)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (lower(name[i]) != literal[i])
            return false;
    return true;
}

// The length test first keeps the other names cheap.
Checked checkedName(const char* name, std::size_t n)
{
    if (isName(name, n, "content-type", 12))
        return Checked::ContentType;
    if (isName(name, n, "content-id", 10))
        return Checked::ContentId;
    if (isName(name, n, "content-length", 14))
        return Checked::ContentLength;
    if (isName(name, n, "transfer-encoding", 17))
        return Checked::TransferEncoding;
    return Checked::None;
}

// A header line (trimmed, with a colon) cut into its name and its value,
// each trimmed; the value ends at the line's end or at a NUL in it.
struct HeaderLine {
    HeaderLine(const char* text, std::size_t lineLength, const char* colon)
    {
        const char* nameEnd = colon;
        while (nameEnd > text && isSpace(nameEnd[-1]))
            --nameEnd;
        name = text;
        while (name < nameEnd && isSpace(*name))
            ++name;
        nameLength = static_cast<std::size_t>(nameEnd - name);
        std::size_t at = static_cast<std::size_t>(colon - text) + 1;  // the colon lies within the line
        while (at < lineLength && isSpace(text[at]))
            ++at;
        value = text + at;
        const std::size_t rest = at < lineLength ? lineLength - at : 0;
        const char* valueEnd = static_cast<const char*>(std::memchr(value, '\0', rest));
        if (!valueEnd)
            valueEnd = value + rest;
        while (valueEnd > value && isSpace(valueEnd[-1]))
            --valueEnd;
        valueLength = static_cast<std::size_t>(valueEnd - value);
        semicolon = static_cast<const char*>(std::memchr(value, ';', valueLength));
        checked = checkedName(name, nameLength);
    }

    // A value without ';' has no attributes: its normal form is the value
    // itself, trimmed, and goes straight into the field text, as does a
    // value whose attributes are written as the header object writes them.
    // Others go through the header object; so do the checked names with
    // attributes (their main value is read from it) and every multipart
    // Content-Type (its boundary is read from it).
    bool parsed() const
    {
        if (checked == Checked::ContentType)
            return (semicolon && !HTTPHeader::isNormalForm(value, valueLength)) ||
                   startsLowered(value, valueLength, "multipart/");
        return semicolon && (checked != Checked::None || !HTTPHeader::isNormalForm(value, valueLength));
    }

    // The line copied into `to`; name and value then point into the copy.
    void copyInto(VexByteBuffer& to, const char*& text, std::size_t lineLength)
    {
        const std::size_t nameAt = static_cast<std::size_t>(name - text);
        const std::size_t valueAt = static_cast<std::size_t>(value - text);
        const std::size_t semicolonAt = semicolon ? static_cast<std::size_t>(semicolon - text) : 0;
        to.reset();
        to.append(text, static_cast<unsigned>(lineLength));
        text = to.getData();
        name = text + nameAt;
        value = text + valueAt;
        semicolon = semicolon ? text + semicolonAt : nullptr;
    }

    const char* name;
    std::size_t nameLength;
    const char* value;
    std::size_t valueLength;
    const char* semicolon;  // the value's first ';', or null
    Checked checked;
};

// Whether a multipart type's "boundary" attribute may stand: present, and
// of at most 70 characters, quotes aside.
bool isBoundary(const char* boundary)
{
    if (isEmpty(boundary))
        return false;
    const std::size_t length = std::strlen(boundary);
    const bool quoted = boundary[0] == '"' && boundary[length - 1] == '"';
    return length <= 72 && (length <= 70 || quoted);
}

// A "content-length" value as a number: as atoi reads it, above 0; or 0
// written in digits only (an empty body). Empty, negative and non-numeric
// values are refused: -1.
int contentLengthOf(const char* value)
{
    const int length = isEmpty(value) ? 0 : toInt(value);
    if (length < 0 || (length == 0 && !isDigits(value)))
        return -1;
    return length;
}

}  // namespace

void SkrHTTPParser::processHeader(const char* text, std::size_t lineLength)
{
    const char* colon = static_cast<const char*>(std::memchr(text, ':', lineLength));
    if (!colon)
        return;
    HeaderLine line(text, lineLength, colon);

    // The value into the field text: as received, or parsed by a header
    // object, the thread's spare one, whose parse() replaces its content and
    // keeps the storage, so that a head costs no allocation per header here.
    const bool parsed = line.parsed();
    const std::size_t valueAt = m_text.size();
    std::unique_ptr<HTTPHeader> header;
    const char* value;
    std::size_t mainLength;
    if (parsed) {
        // The header object reads a C string: the line goes into the line
        // buffer when it was parsed where it lay.
        if (text != m_line.getData())
            line.copyInto(m_line, text, lineLength);
        header = VexThreadSpare<HTTPHeader>::take();
        header->parse(line.value);
        value = header->getValue();
        mainLength = std::strlen(value);
    } else {
        // The value and its NUL, then room for the name and its NUL: one growth of the text.
        m_text.resize(valueAt + line.valueLength + line.nameLength + 2);
        char* at = &m_text[valueAt];
        std::memcpy(at, line.value, line.valueLength);
        at[line.valueLength] = '\0';
        value = at;
        mainLength = line.semicolon ? static_cast<std::size_t>(line.semicolon - line.value) : line.valueLength;
    }

    switch (line.checked) {
    case Checked::ContentType:
        if (mainLength == 0)
            failHeader(SkarnException::errBadContentType, text, lineLength);
        m_contentType.assign(value, mainLength);
        if (startsLowered(value, mainLength, "multipart/")) {
            const char* boundary = header->getAttribute("boundary");
            if (!isBoundary(boundary))
                failHeader(SkarnException::errBadBoundary, text, lineLength);
            m_delimiter = boundary;
            m_multipart = 1;
        }
        break;
    case Checked::ContentId:
        if (isEmpty(value))
            failHeader(SkarnException::errBadContentId, text, lineLength);
        m_contentID = value;
        break;
    case Checked::ContentLength: {
        // Two different lengths leave the message's end in doubt: a proxy
        // that took the other one would see another message here (RFC 7230
        // section 3.3.3). The same length twice is harmless.
        const int length = contentLengthOf(value);
        if (length < 0 || (m_contentLength != NO_LENGTH && m_contentLength != length))
            failHeader(SkarnException::errBadContentLength, text, lineLength);
        m_contentLength = length;
        break;
    }
    case Checked::TransferEncoding:
        if (isEmpty(value))
            failHeader(SkarnException::errBadTransferEncoding, text, lineLength);
        m_chunked = lowered(value) == "chunked" ? 1 : 0;
        break;
    case Checked::None:
        break;
    }

    // A parsed value in normal form, re-serialised straight into the field
    // text; then the name in lower case.
    std::size_t nameAt;
    if (parsed) {
        header->dump(m_text);
        m_text += '\0';
        nameAt = m_text.size();
        m_text.resize(nameAt + line.nameLength + 1);
        // Storage that grew for one long value is not kept.
        if (lineLength <= KEEP_HEADER)
            VexThreadSpare<HTTPHeader>::give(std::move(header));
    } else {
        nameAt = valueAt + line.valueLength + 1;
    }
    lowerInto(&m_text[nameAt], line.name, line.nameLength);
    m_text[nameAt + line.nameLength] = '\0';
    setField(nameAt, line.nameLength, valueAt);
}

void SkrHTTPParser::parseBodyPart(QioBufferedInputStream* is)
{
    m_contentType.clear();
    m_delimiter.clear();
    m_contentID.clear();
    m_multipart = 0;
    m_contentLength = NO_LENGTH;
    m_chunked = 0;
    m_statusCode = 0;
    clearFields();
    m_headLeft = UNLIMITED;
    processHeaders(is, 1);
}
