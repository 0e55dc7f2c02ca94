#include "http/SkrMessageWriter.h"

#include "api/SkarnException.h"
#include "http/SkrDomWriter.h"
#include "net/SkarnSocket.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexTolkThreadLocal.h"
#include "platform/core/VexUtConvert.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/httptools/HTTPHeader.h"
#include "platform/httptools/MultipartHttpMsg.h"
#include "platform/httptools/OnePieceHttpMsg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

VEX_THREAD_RECYCLED_DEFINE(SkrMessageWriter)

namespace {

const char* const DEFAULT_BOUNDARY = "=_=mirra-mp-boundary=_=";
const char* const PRE_ENCODED_QP = "text/skarn-pre-encoded-quoted-printable";
// The type of a part given without one: bytes the toolkit knows nothing about.
const char* const UNTYPED = "application/octet-stream";

[[noreturn]] void refuse(const char* function, const char* why)
{
    VexIllegalArgumentError(0, why).hurl(VEX_LOCATION, function, "VEX_THROW");
}

std::string lowered(std::string s)
{
    VexUtConvert::strlwr(s);
    return s;
}

bool blank(const char* text) { return !text || text[std::strspn(text, " \t\r\n\v\f")] == '\0'; }

// What the reading side makes of a multipart boundary: refused when empty,
// longer than 70 characters, or holding a double quote (the multipart stream
// drops quotes from the boundary it looks for) or a line end.
const char* boundaryProblem(const std::string& boundary)
{
    if (boundary.empty() || boundary.size() > 70)
        return "the multipart boundary must have 1 to 70 characters";
    if (boundary.find_first_of("\"\r\n") != std::string::npos)
        return "the multipart boundary must not hold a double quote, CR or LF";
    return nullptr;
}

// Whether the head parser takes a Content-Length value: a number above 0 as
// strtol reads it, or 0 written in digits only.
bool isLength(const std::string& value)
{
    const long n = std::strtol(value.c_str(), nullptr, 10);
    return n > 0 || (n == 0 && !value.empty() && value.find_first_not_of("0123456789") == std::string::npos);
}

// Why the reading side would refuse this header line of a part, or null: the
// checks of the head parser (Content-Type, Content-ID, Content-Length,
// Transfer-Encoding) and the attachment reader's refusal of base64. The value
// is taken as it goes on the wire, line ends written as blanks.
const char* partHeaderProblem(const std::string& name, const char* text)
{
    std::string n = name;
    const std::size_t first = n.find_first_not_of(" \t");
    n = first == std::string::npos ? std::string() : n.substr(first, n.find_last_not_of(" \t") - first + 1);
    n = lowered(n);
    std::string wire = text ? text : "";
    for (char& c : wire)
        if (c == '\r' || c == '\n')
            c = ' ';
    HTTPHeader header;
    header.parse(wire.c_str());
    const std::string value = header.getValue();
    if (n == "content-type") {
        if (value.empty())
            return "the content type is empty";
        if (lowered(value).compare(0, 10, "multipart/") == 0) {
            const char* b = header.getAttribute("boundary");
            const std::size_t length = b ? std::strlen(b) : 0;
            const bool quoted = length > 0 && b[0] == '"' && b[length - 1] == '"';
            if (length == 0 || length > 72 || (length > 70 && !quoted))
                return "a multipart content type needs a boundary of 1 to 70 characters";
        }
    } else if (n == "content-id" && value.empty()) {
        return "the content ID is empty";
    } else if (n == "content-length" && !isLength(value)) {
        return "a part's Content-Length must be a number of 0 or more";
    } else if (n == "transfer-encoding" && value.empty()) {
        return "a part's Transfer-Encoding is empty";
    } else if (n == "content-transfer-encoding") {
        std::string normal;
        if (lowered(header.dump(normal)) == "base64")
            return "base64 parts are not read by the toolkit";
    }
    return nullptr;
}

// The SOAP 1.2 envelope type; `action` (quotes around it dropped) as its
// action parameter, a quoted string, when not empty.
std::string soap12Type(const char* action)
{
    std::string type = "application/soap+xml; charset=UTF-8";
    std::string a = action ? action : "";
    if (a.size() >= 2 && a.front() == '"' && a.back() == '"')
        a = a.substr(1, a.size() - 2);
    if (a.empty())
        return type;
    type += "; action=\"";
    for (char c : a) {
        if (c == '"' || c == '\\')
            type += '\\';
        type += c == '\r' || c == '\n' ? ' ' : c;
    }
    return type + "\"";
}

}  // namespace

SkrMessageWriter::SkrMessageWriter(const char* uriPath, int isRequest, int hasAttachments, SkarnSocket* sock,
                                   int chunked, int chunkSize, const char* boundary)
    : SkarnMessageWriter(isRequest, hasAttachments),
      m_chunkSize(chunked == 0 ? 0 : (chunkSize < 2 ? 4000 : chunkSize)),
      m_sock(sock),
      m_uri_path(uriPath ? uriPath : ""),
      m_boundary(!hasAttachments ? "" : boundary ? boundary : DEFAULT_BOUNDARY)
{
    m_body.setFailureHook(&SkrMessageWriter::bodyWriteFailed, this);
}

void SkrMessageWriter::bodyWriteFailed(void* writer)
{
    // Part of a body may be on the wire: the connection is spent, and nothing
    // may end the message and make it look complete.
    static_cast<SkrMessageWriter*>(writer)->abandonMessage();
}

SkrMessageWriter::~SkrMessageWriter()
{
    if (m_op_sender || m_mp_sender) {
        try {
            close();
        } catch (...) {
            // Half a message went out: the connection cannot carry another.
            if (m_sock)
                m_sock->disableReuse();
        }
    }
    dropMessageObjects();
    m_sock = nullptr;
    m_properties = nullptr;
}

void SkrMessageWriter::checkOpen(const char* function)
{
    if (!m_open)
        SkarnException::raise(VEX_LOCATION, function, SkarnException::errWriterState);
}

void SkrMessageWriter::dropMessageObjects()
{
    m_body.setEnabled(0);
    m_body.setTarget(nullptr);
    delete m_current_part;
    m_current_part = nullptr;
    delete m_op_sender;
    delete m_mp_sender;
    m_op_sender = nullptr;
    m_mp_sender = nullptr;
}

HttpMsgNode* SkrMessageWriter::messageNode()
{
    if (m_has_attachments) {
        VEX_ASSERT(m_mp_sender);
        return m_mp_sender;
    }
    VEX_ASSERT(m_op_sender);
    return m_op_sender;
}

void SkrMessageWriter::abandonPart()
{
    if (m_sock)
        m_sock->disableReuse();
    delete m_current_part;
    m_current_part = nullptr;
    m_body.setEnabled(0);
    m_body.setTarget(nullptr);
}

void SkrMessageWriter::abandonMessage()
{
    if (m_sock)
        m_sock->disableReuse();
    dropMessageObjects();
    m_open = 0;
}

template <class Step>
auto SkrMessageWriter::writeStep(const char* function, Step&& step) -> decltype(step())
{
    try {
        return step();
    } catch (VexThrowable& t) {
        abandonMessage();
        VEX_RETHROW(t, function);
    } catch (...) {
        abandonMessage();
        throw;
    }
}

void SkrMessageWriter::init()
{
    VEX_ASSERT(m_sock);
    VEX_ASSERT(m_uri_path.c_str());
    // A boundary the reading side refuses is refused here, before anything
    // reaches the wire; the connection stays usable.
    if (m_has_attachments)
        if (const char* why = boundaryProblem(m_boundary))
            refuse("SkrMessageWriter::init", why);
    if (m_get && (m_has_attachments || !m_request))
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMessageWriter::init - a GET is a request without parts", "VEX_THROW");
    writeStep("SkrMessageWriter::init", [&] {
        QioOutputStream& out = m_sock->getOutputStream();
        HttpMsgNode* node;
        if (m_has_attachments) {
            m_mp_sender = VEX_GUARDED_NEW("SkrMessageWriter::init",
                                          new MultipartHttpMsg(out, m_chunkSize, m_boundary.c_str()));
            if (m_soap12)
                m_mp_sender->setRootType("application/soap+xml");
            node = m_mp_sender;
        } else {
            m_op_sender = VEX_GUARDED_NEW("SkrMessageWriter::init", new OnePieceHttpMsg(out, m_chunkSize));
            node = m_op_sender;
        }
        if (m_request)
            node->startRequest(m_uri_path.c_str(), m_get ? 1 : 0);
        m_open = 1;
    });
}

void SkrMessageWriter::writeTolkRequestHeaders(HttpMsgNode* node)
{
    VexTolkData* tolk = VexTolkThreadLocal::getInstance()->getTolkData();
    if (!tolk || !tolk->isSet())
        return;
    node->setHeader(VexTolkData::getTolkHeaderStepString(), tolk->incrTolkStep());
    node->setHeader(VexTolkData::getTolkHeaderSrcString(), tolk->getTolkSrc());
    node->setHeader(VexTolkData::getTolkHeaderIdString(), tolk->getTolkID());
    node->setHeader(VexTolkData::getTolkHeaderSrcSvcString(), tolk->getTolkSrcSvc());
    node->setHeader(VexTolkData::getTolkHeaderXMOTVAString(), tolk->getTolkXMOTVA());
}

void SkrMessageWriter::writeTolkResponseHeaders(HttpMsgNode* node)
{
    VexTolkData* tolk = VexTolkThreadLocal::getInstance()->getTolkData();
    if (!tolk || !tolk->isSet())
        return;
    node->setHeader(VexTolkData::getTolkHeaderStepString(), tolk->getTolkStep());
}

void SkrMessageWriter::startResponse(HttpMsgNode* node)
{
    node->startResponse(m_status_code, m_reason);
    writeTolkResponseHeaders(node);
    if (m_closeConnection)
        node->setHeader("Connection", "close");
    m_status_sent = 1;
}

void SkrMessageWriter::setExtraHeaders(HttpMsgNode* node)
{
    checkOpen("SkrMessageWriter::setExtraHeaders");
    if (!m_properties)
        return;
    auto auth = m_properties->find("Authorization");
    if (auth != m_properties->end())
        node->setHeader("Authorization", auth->second.c_str());
    auto host = m_properties->find("Host");
    if (host != m_properties->end())
        node->setHeader("Host", host->second.c_str());
}

void SkrMessageWriter::setCallerHeaders(HttpMsgNode* node)
{
    if (!m_properties)
        return;
    for (auto it = m_properties->lower_bound("header:"); it != m_properties->end() && it->first.compare(0, 7, "header:") == 0;
         ++it)
        node->setHeader(it->first.c_str() + 7, it->second.c_str());
}

QioOutputStream& SkrMessageWriter::openEnvelope(const char* soapAction)
{
    checkOpen("SkrMessageWriter::openEnvelope");
    if (m_get)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMessageWriter::openEnvelope - a GET carries no envelope", "VEX_THROW");
    return writeStep("SkrMessageWriter::openEnvelope", [&]() -> QioOutputStream& {
        HttpMsgNode* node = messageNode();
        if (m_request) {
            if (!m_soap12)
                node->setHeader("SOAPAction", soapAction);
            writeTolkRequestHeaders(node);
            setExtraHeaders(node);
            setCallerHeaders(node);
        } else {
            startResponse(node);
        }
        // Made for SOAP 1.2 only: the 1.1 type is a constant.
        const std::string soap12 = m_soap12 ? soap12Type(m_request ? soapAction : nullptr) : std::string();
        if (m_has_attachments)
            return m_soap12 ? openAttachment(soap12.c_str(), nullptr, "envelope", 0)
                            : openAttachment("text/xml", "UTF-8", "envelope", 0);
        m_op_sender->setHeader("Content-Type", m_soap12 ? soap12.c_str() : "text/xml; charset=UTF-8");
        m_op_sender->setHeader("Content-ID", "envelope");
        m_body.setTarget(&m_op_sender->getBodyStream());
        m_body.setEnabled(1);
        return m_body;
    });
}

QioOutputStream& SkrMessageWriter::openEnvelope() { return openEnvelope("\"\""); }

void SkrMessageWriter::closeEnvelope(QioOutputStream& s)
{
    if (!m_open)
        return;
    if (m_has_attachments)
        closeAttachment(s);
    else
        m_body.setEnabled(0);
}

QioOutputStream& SkrMessageWriter::openAttachment(const char* contentType, const char* charset,
                                                  const char* extraHeaders, const char* contentID, int mode)
{
    checkOpen("SkrMessageWriter::openAttachment");
    if (!m_has_attachments)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMessageWriter::openAttachment - the writer instance was not constructed for attachments",
                  "VEX_THROW");
    if (m_current_part)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMessageWriter::openAttachment - must close prior attachment first", "VEX_THROW");
    VEX_ASSERT(m_mp_sender != NULL);

    // A part without a type is sent as untyped bytes: the reading side
    // refuses an empty Content-Type.
    VexByteBuffer type(256, 256);
    type.append(blank(contentType) ? UNTYPED : contentType);
    if (charset) {
        type.append("; charset=");
        type.append(charset);
    }
    // "Name:value" lines ended by CR LF; the value is taken from right after
    // the ':' up to the CR LF (a lone LF stays in it). A line without ':' or
    // with an empty value ends the block.
    std::vector<std::pair<std::string, std::string>> extra;
    if (extraHeaders) {
        std::string block(extraHeaders);
        std::size_t pos = 0;
        while (pos < block.size()) {
            std::size_t eol = block.find("\r\n", pos);
            std::size_t lineEnd = eol == std::string::npos ? block.size() : eol;
            std::size_t colon = block.find(':', pos);
            if (colon == std::string::npos || colon >= lineEnd)
                break;
            std::string value = block.substr(colon + 1, lineEnd - colon - 1);
            if (value.empty())
                break;
            extra.emplace_back(block.substr(pos, colon - pos), std::move(value));
            if (eol == std::string::npos)
                break;
            pos = eol + 2;
        }
    }
    // Headers the reading side refuses are refused here, before anything
    // reaches the wire; the message goes on without the part.
    const char* why = partHeaderProblem("Content-Type", type.getData());
    if (!why)
        why = partHeaderProblem("Content-ID", contentID);
    for (std::size_t i = 0; !why && i < extra.size(); ++i)
        why = partHeaderProblem(extra[i].first, extra[i].second.c_str());
    if (why)
        refuse("SkrMessageWriter::openAttachment", why);

    try {
        m_current_part = m_mp_sender->addOnePiece(mode == 1 ? -1 : 0);
        m_current_part->setHeader("Content-Type", type.getData());
        m_current_part->setHeader("Content-ID", contentID);
        setExtraHeaders(m_current_part);
        bool preEncoded = contentType && std::strcmp(contentType, PRE_ENCODED_QP) == 0;
        m_current_part->setHeader("Content-Transfer-Encoding", preEncoded ? "Quoted-Printable" : "Binary");
        for (const auto& header : extra)
            m_current_part->setHeader(header.first.c_str(), header.second.c_str());

        m_body.setTarget(&m_current_part->getBodyStream());
        m_body.setEnabled(1);
        return m_body;
    } catch (VexThrowable& t) {
        abandonPart();
        VEX_RETHROW(t, "SkrMessageWriter::openAttachment");
    } catch (...) {
        abandonPart();
        throw;
    }
}

QioOutputStream& SkrMessageWriter::openAttachment(const char* contentType, const char* charset,
                                                  const char* contentID, int /*flag*/)
{
    return openAttachment(contentType, charset, nullptr, contentID, 0);
}

void SkrMessageWriter::closeAttachment(QioOutputStream& /*s*/)
{
    if (!m_open)
        return;
    VEX_ASSERT(m_has_attachments);
    VEX_ASSERT(m_mp_sender);
    m_body.setEnabled(0);
    OnePieceHttpMsg* part = m_current_part;
    m_current_part = nullptr;
    try {
        m_mp_sender->endPart(part);
    } catch (...) {
        abandonMessage();
        throw;
    }
}

void SkrMessageWriter::writeWhole(QioOutputStream& s, const char* data, unsigned len)
{
    // A failed write abandons the message through the body stream's hook.
    s.write(data, len);
}

void SkrMessageWriter::writeNode(QioOutputStream& s, VexIDOM_Node& node)
{
    try {
        SkrDomWriter writer(s);
        VexIDOM_Helper::write(node, writer);
    } catch (...) {
        // Part of the node may be on the wire.
        abandonMessage();
        throw;
    }
}

void SkrMessageWriter::setEnvelope(VexIDOM_Node& envelope)
{
    checkOpen("SkrMessageWriter::setEnvelope");
    QioOutputStream& s = openEnvelope();
    writeNode(s, envelope);
    closeEnvelope(s);
}

void SkrMessageWriter::addAttachment(const char* contentType, const char* charset, const char* extraHeaders,
                                     const char* data, unsigned len, const char* contentID)
{
    checkOpen("SkrMessageWriter::addAttachment");
    QioOutputStream& s = openAttachment(contentType, charset, extraHeaders, contentID, 0);
    writeWhole(s, data, len);
    closeAttachment(s);
}

void SkrMessageWriter::addAttachment(const char* contentType, const char* charset, const char* data, unsigned len,
                                     const char* contentID)
{
    checkOpen("SkrMessageWriter::addAttachment");
    QioOutputStream& s = openAttachment(contentType, charset, contentID, 0);
    writeWhole(s, data, len);
    closeAttachment(s);
}

void SkrMessageWriter::addAttachment(VexIDOM_Node& node, const char* contentID)
{
    checkOpen("SkrMessageWriter::addAttachment");
    QioOutputStream& s = openAttachment("text/xml", "UTF_8", contentID, 0);
    writeNode(s, node);
    closeAttachment(s);
}

std::string* SkrMessageWriter::getNewAttachmentID()
{
    checkOpen("SkrMessageWriter::getNewAttachmentID");
    char text[32];
    std::snprintf(text, sizeof text, "%lu", ++m_attachment_counter);
    return VEX_GUARDED_NEW("SkrMessageWriter::getNewAttachmentID", new std::string(text));
}

void SkrMessageWriter::setResponseStatus(int code, const char* reason)
{
    checkOpen("SkrMessageWriter::setResponseStatus");
    if (m_request)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMessageWriter::setResponseStatus - you can't set response status for a request",
                  "VEX_THROW");
    if (m_status_sent)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMessageWriter::setResponseStatus - the status line was already sent", "VEX_THROW");
    m_status_code = code;
    std::strncpy(m_reason, reason ? reason : "unknown reason", sizeof m_reason - 1);
    m_reason[sizeof m_reason - 1] = '\0';
}

void SkrMessageWriter::close()
{
    if (!m_open)
        return;
    if (m_current_part)
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMessageWriter::close - envelope or attachment was not yet closed", "VEX_THROW");
    // A single-part envelope still open ends with the message.
    m_body.setEnabled(0);
    writeStep("SkrMessageWriter::close", [&] {
        HttpMsgNode* node = messageNode();
        // A GET has its headers here: it opens no envelope.
        if (m_get) {
            writeTolkRequestHeaders(node);
            setExtraHeaders(node);
            setCallerHeaders(node);
        }
        // A response closed without an envelope still needs its status line.
        if (!m_request && !m_status_sent)
            startResponse(node);
        node->end();
        dropMessageObjects();
        m_open = 0;
    });
}
