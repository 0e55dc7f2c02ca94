#include "http/SkrMessageReader.h"

#include "api/SkarnException.h"
#include "http/SkrAttachmentReader.h"
#include "mime/SkrMPInputStream.h"
#include "net/SkarnSocket.h"
#include "platform/caravan/VexCVManager.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexMessageParm.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/core/VexTolkThreadLocal.h"
#include "platform/dom/VexIDOM_DOMException.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "platform/streams/QioBlockInputStream.h"
#include "platform/streams/QioChunkedInputStream.h"
#include "platform/streams/QioOutputStream.h"

#include <strings.h>

#include <cstring>
#include <optional>
#include <string>

VEX_THREAD_RECYCLED_DEFINE(SkrMessageReader)

namespace {

const unsigned READ_AHEAD = 64 * 1024;

}  // namespace

SkrMessageReader::SkrMessageReader(int isRequest, QioInputStream& in, SkarnSocket* sock)
    : SkarnMessageReader(isRequest),
      m_more_parts(0),
      m_sock_in(&in),
      m_buffered(nullptr),
      m_chunked(nullptr),
      m_block(nullptr),
      m_att_reader(nullptr),
      m_mp_stream(nullptr),
      m_body(nullptr),
      m_sock(sock),
      m_no_body(0)
{
}

SkrMessageReader::~SkrMessageReader()
{
    if (!m_finished)
        finish();
    delete m_att_reader;
    delete m_mp_stream;
    delete m_chunked;
    delete m_block;
    delete m_buffered;
    m_att_reader = nullptr;
    m_mp_stream = nullptr;
    m_chunked = nullptr;
    m_block = nullptr;
    m_buffered = nullptr;
    m_body = nullptr;
    m_sock_in = nullptr;
    m_sock = nullptr;
}

bool SkrMessageReader::finish()
{
    if (m_finished)
        return m_complete;
    m_finished = true;
    try {
        if (m_att_reader) {
            while (hasMoreAttachments())
                closeAttachment(openNextAttachment());
            delete m_att_reader;
            m_att_reader = nullptr;
        }
        if (m_mp_stream)
            m_mp_stream->unWrap();
        char skipped[4096];
        if (m_chunked) {
            while (m_chunked->read(skipped, sizeof skipped) != QioInputStream::END) {
            }
            // The trailer lines and the empty line that ends them.
            VexByteBuffer& line = m_parser.m_line;
            line.reset();
            for (;;) {
                if (m_buffered->readline(line) == -1)
                    break;
                line.trim();
                if (line.length() == 0)
                    break;
                line.reset();
            }
        }
        if (m_block) {
            while (m_block->read(skipped, sizeof skipped) != QioInputStream::END) {
            }
        }
        // Bytes the buffer read ahead, past this message, go back to the
        // socket stream when it takes them.
        if (m_buffered)
            m_buffered->unWrap();
        // Only a framed body has an end short of the connection's.
        m_complete = m_chunked || m_block;
    } catch (...) {
        // The rest of the message stays unread: the connection cannot carry
        // another one.
        try {
            disableReuse();
        } catch (...) {
        }
    }
    return m_complete;
}

void SkrMessageReader::abandon()
{
    m_finished = true;
    m_complete = false;
    disableReuse();
}

void SkrMessageReader::answerExpectContinue()
{
    // An HTTP/1.1 client that asks for it waits for this interim answer before
    // it sends the body; HTTP/1.0 clients never get one.
    const char* expect = m_parser.getHeader("expect");
    const char* version = m_parser.getHeader("skarn-http-version");
    if (!m_sock || !expect || ::strcasecmp(expect, "100-continue") != 0 || !version ||
        std::strcmp(version, "HTTP/1.1") != 0)
        return;
    static const char CONTINUE[] = "HTTP/1.1 100 Continue\r\n\r\n";
    QioOutputStream& out = m_sock->getOutputStream();
    out.write(CONTINUE, sizeof CONTINUE - 1);
    out.flush();
}

void SkrMessageReader::disableReuse()
{
    if (m_sock)
        m_sock->disableReuse();
}

void SkrMessageReader::resetSocketStream()
{
    if (m_sock_in->getCancel() != 0)
        m_sock_in->setCancel(0);
    if (m_sock_in->getTimeout() != 0)
        m_sock_in->setTimeout(0);
}

const char* SkrMessageReader::tracingHeader(const char* name)
{
    const char* value = m_parser.getHeader(name);
    return value && std::strlen(value) <= TRACING_VALUE_LIMIT ? value : nullptr;
}

void SkrMessageReader::saveRequestHeaders()
{
    // The thread's table takes the "x-" headers; without any, no sorted table is built.
    static const SkrHTTPParser::HeaderTable none;
    VexCVManager::getInstance().loadHeaders(m_parser.hasExtensionHeaders() ? m_parser.getHeaders() : none);
    const char* id = tracingHeader(VexTolkData::getTolkHeaderIdString());
    const char* xmotva = tracingHeader(VexTolkData::getTolkHeaderXMOTVAString());
    if (id) {
        VexTolkData* tolk = VexTolkThreadLocal::getInstance()->getTolkData();
        tolk->setTolkID(id);
        tolk->setTolkSrc(tracingHeader(VexTolkData::getTolkHeaderSrcString()));
        tolk->setTolkSrcSvc(tracingHeader(VexTolkData::getTolkHeaderSrcSvcString()));
        tolk->setTolkStep(tracingHeader(VexTolkData::getTolkHeaderStepString()));
        if (xmotva)
            tolk->setTolkXMOTVA(xmotva);
    } else if (xmotva) {
        VexTolkThreadLocal::getInstance()->getTolkData()->setTolkXMOTVA(xmotva);
    }
}

void SkrMessageReader::saveTolkResponseHeaders()
{
    const char* step = tracingHeader(VexTolkData::getTolkHeaderStepString());
    if (step)
        VexTolkThreadLocal::getInstance()->getTolkData()->setTolkStep(step);
}

QioInputStream& SkrMessageReader::openEnvelope()
{
    try {
        if (m_buffered)
            VexIllegalStateError(0, nullptr)
                .hurl(VEX_LOCATION, "SkrMessageReader::openEnvelope - the envelope was already opened", "VEX_THROW");
        m_buffered = VEX_GUARDED_NEW("SkrMessageReader::openEnvelope", new QioBufferedInputStream(*m_sock_in, 1024));
        // Bodies are read in pieces of about a kilobyte (the multipart
        // stream's buffer); refilling from the socket 64 KiB at a time keeps
        // that from costing one receive per kilobyte.
        m_buffered->setReadAhead(READ_AHEAD);
        if (m_request) {
            m_parser.parseRequest(m_buffered);
            saveRequestHeaders();
            answerExpectContinue();
        } else {
            m_parser.parseResponse(m_buffered);
            saveTolkResponseHeaders();
        }
        // How the body is delimited (RFC 7230 section 3.3.3): none after a
        // 1xx, 204 or 304 status whatever the head says; chunks; a length
        // (0: none); else the end of the connection.
        const int status = m_parser.getStatusCode();
        const bool bodiless = !m_request && ((status >= 100 && status < 200) || status == 204 || status == 304);
        if (!m_request && status == 101)
            disableReuse();  // the connection no longer speaks HTTP
        if (bodiless || (!m_parser.isChunked() && m_parser.hasContentLength() && m_parser.getContentLength() == 0)) {
            m_block = VEX_GUARDED_NEW("SkrMessageReader::openEnvelope", new QioBlockInputStream(*m_buffered));
            m_block->setLength(0);
            m_body = m_block;
            m_no_body = 1;
            return *m_body;
        }
        if (m_parser.isChunked()) {
            m_chunked = VEX_GUARDED_NEW("SkrMessageReader::openEnvelope", new QioChunkedInputStream(*m_buffered));
            m_body = m_chunked;
        } else if (m_parser.hasContentLength()) {
            m_block = VEX_GUARDED_NEW("SkrMessageReader::openEnvelope", new QioBlockInputStream(*m_buffered));
            m_block->setLength(m_parser.getContentLength());
            m_body = m_block;
        } else {
            m_body = m_buffered;
        }
        if (!m_parser.isMultipart()) {
            // A body that ends before its first byte (last chunk at once, the
            // connection closed after the head) is no body either.
            const int first = m_body->read();
            if (first < 0) {
                m_no_body = 1;
            } else {
                const char c = static_cast<char>(first);
                m_body->unread(&c, 1);
            }
            return *m_body;
        }
        // The first delimiter line opens the body directly; the multipart
        // stream's delimiter starts with CR LF.
        m_body->unread("\r\n", 2);
        m_mp_stream = VEX_GUARDED_NEW("SkrMessageReader::openEnvelope",
                                      new SkrMPInputStream(*m_body, m_parser.getMultipartDelimiter()));
        m_att_reader = VEX_GUARDED_NEW("SkrMessageReader::openEnvelope", new SkrAttachmentReader(m_mp_stream));
        openNextAttachment();
        return m_att_reader->getInputStream();
    } catch (VexThrowable& t) {
        disableReuse();
        VEX_RETHROW(t, "SkrMessageReader::openEnvelope");
    } catch (...) {
        disableReuse();
        throw;
    }
}

void SkrMessageReader::closeEnvelope(QioInputStream& /*s*/)
{
    try {
        if (m_att_reader)
            closeAttachment(*m_att_reader);
        else
            resetSocketStream();
    } catch (VexThrowable& t) {
        disableReuse();
        VEX_RETHROW(t, "SkrMessageReader::closeEnvelope");
    } catch (...) {
        disableReuse();
        throw;
    }
}

int SkrMessageReader::canHaveAttachments() { return m_no_body ? 0 : m_parser.isMultipart(); }

int SkrMessageReader::hasEnvelope() const { return m_body && !m_no_body ? 1 : 0; }

int SkrMessageReader::hasMoreAttachments()
{
    if (!canHaveAttachments() || !m_att_reader || !m_mp_stream)
        return 0;
    return m_more_parts;
}

SkarnAttachmentReader& SkrMessageReader::openNextAttachment()
{
    try {
        if (!m_mp_stream || !m_att_reader)
            VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "not processing multipart HTTP message", "VEX_THROW");
        if (m_mp_stream->hasNextPart())
            m_mp_stream->nextPart();
        else
            SkarnException::raise(VEX_LOCATION, "SkrMessageReader::openNextAttachment", SkarnException::errNotMultipart);
        m_att_reader->readPartHeaders();
        return *m_att_reader;
    } catch (VexThrowable& t) {
        disableReuse();
        VEX_RETHROW(t, "SkrMessageReader::openNextAttachment");
    } catch (...) {
        disableReuse();
        throw;
    }
}

void SkrMessageReader::closeAttachment(SkarnAttachmentReader& /*a*/)
{
    try {
        resetSocketStream();
        if (m_mp_stream)
            m_more_parts = m_mp_stream->hasNextPart();
    } catch (VexThrowable& t) {
        disableReuse();
        VEX_RETHROW(t, "SkrMessageReader::closeAttachment");
    } catch (...) {
        disableReuse();
        throw;
    }
}

const char* SkrMessageReader::getHeader(const char* name)
{
    if (name && std::strcmp(name, FIELD_NAMES) == 0) {
        // Built on request only: reading a message never pays for it.
        m_fieldNames.clear();
        for (const auto& field : m_parser.getHeaders()) {
            if (field.first.compare(0, 6, "skarn-") == 0)
                continue;
            if (!m_fieldNames.empty())
                m_fieldNames += ", ";
            m_fieldNames += field.first;
        }
        return m_fieldNames.c_str();
    }
    return m_parser.getHeader(name);
}

void SkrMessageReader::getEnvelope(VexIDOM_Node& parent)
{
    QioInputStream& s = openEnvelope();
    if (m_no_body) {
        // Nothing to parse: the parent is left as it is.
        closeEnvelope(s);
        return;
    }
    try {
        // The document is hosted by the parent's: the parse builds the
        // envelope's nodes where they will stay, and appending the first child
        // moves it instead of copying the tree.
        std::optional<VexIDOM_Document> doc;
        VEX_GUARDED("SkrMessageReader::getEnvelope", { doc.emplace(parent); });
        VexIDOM_Parser parser(0);
        if (parser.parse(s, *doc) != 0) {
            SkarnMessage m(SkarnException::messageNumberOf(SkarnException::errEnvelope16));
            m << VexMessageParm(static_cast<long>(parser.getCurrentLineNumber()))
              << VexMessageParm(static_cast<long>(parser.getCurrentColumnNumber()))
              << VexMessageParm(static_cast<long>(parser.getErrorCode()));
            SkarnException e(1, SkarnException::errEnvelope16, m);
            e << VexMessageString(parser.errorString());
            e.hurl(VEX_LOCATION, "SkrMessageReader::getEnvelope", "VEX_THROW");
        }
        try {
            VexIDOM_Node first = doc->getFirstChild();
            if (first.isNull())
                SkarnException::raise(VEX_LOCATION, "SkrMessageReader::getEnvelope", SkarnException::errEnvelope17);
            VexIDOM_Helper::appendChild(parent, first);
        } catch (const VexIDOM_DOMException& x) {
            SkarnException::raise(VEX_LOCATION, "SkrMessageReader::getEnvelope", SkarnException::errEnvelope18,
                                  {I18NString(std::to_string(x.getCode()))});
        }
    } catch (...) {
        // The envelope was not read to its end: the connection cannot carry
        // another message.
        disableReuse();
        throw;
    }
    closeEnvelope(s);
}
