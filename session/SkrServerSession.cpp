#include "session/SkrServerSession.h"

#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "net/SkarnSocket.h"
#include "net/SkarnSocketInputStream.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexMacros.h"
#include "platform/dom/VexIDOM_Element.h"

#include <cstdlib>

VEX_THREAD_RECYCLED_DEFINE(SkrServerSession)

SkrServerSession::SkrServerSession(SkarnSocket* socket)
    : SkarnServerSession(socket), m_serv_writer(nullptr), m_serv_reader(nullptr), m_properties({"boundary", "chunk-size", "send-content-length", "soap-version"})
{
}

SkrServerSession::~SkrServerSession()
{
    m_serv_writer = nullptr;
    m_serv_reader = nullptr;
}

void SkrServerSession::setProperty(const std::string& key, int value)
{
    setProperty(key, SkrPropertyTable::decimal(value));
}

void SkrServerSession::setProperty(const std::string& key, const std::string& value)
{
    if (key == "soap-version" && value != "1.1" && value != "1.2")
        VexIllegalArgumentError(0, "soap-version is \"1.1\" or \"1.2\"")
            .hurl(VEX_LOCATION, "SkrServerSession::setProperty", "VEX_THROW");
    if (!m_properties.set(key, value))
        VexIllegalArgumentError(0, nullptr).hurl(VEX_LOCATION, "SkrServerSession::setProperty", "VEX_THROW");
}

void SkrServerSession::echo(const char* sfilename)
{
    if (m_server_sock)
        m_server_sock->echo(sfilename);
}

void SkrServerSession::echo(const char* sfilename, const char* mode, int echo_rw)
{
    if (m_server_sock)
        m_server_sock->echo(sfilename, mode, echo_rw);
}

void SkrServerSession::readRequestEnvelope(VexIDOM_Node& request)
{
    SkarnMessageReader& r = openRequest();
    r.getEnvelope(request);
    closeRequest(r);
}

void SkrServerSession::respond(VexIDOM_Element& response)
{
    SkarnMessageWriter& w = openResponse(0);
    w.setEnvelope(response);
    closeResponse(w);
}

SkarnMessageReader& SkrServerSession::openRequest()
{
    VEX_ASSERT(m_serv_reader == 0);
    VEX_ASSERT(m_server_sock);
    QioInputStream& in = m_server_sock->getInputStream();
    m_serv_reader = VEX_GUARDED_NEW("SkrServerSession::openRequest", new SkrMessageReader(1, in, m_server_sock));
    return *m_serv_reader;
}

void SkrServerSession::closeRequest(SkarnMessageReader& r)
{
    VEX_ASSERT(m_serv_reader == &r);
    m_requestComplete = static_cast<SkrMessageReader*>(m_serv_reader)->finish();
    delete m_serv_reader;
    m_serv_reader = nullptr;
}

SkarnMessageWriter& SkrServerSession::openResponse(int attachments)
{
    VEX_ASSERT(m_serv_writer == 0);
    const SkrPropertyTable::Transfer t = m_properties.transfer();
    SkrMessageWriter* writer = VEX_GUARDED_NEW(
        "SkrServerSession::openResponse",
        new SkrMessageWriter("", 0, attachments, m_server_sock, t.chunked, t.chunkSize, t.boundaryOrNull()));
    m_serv_writer = writer;
    std::string soapVersion;
    writer->setSoap12(m_properties.get("soap-version", soapVersion) && soapVersion == "1.2");
    writer->setConnectionClose(m_closing || (m_draining && m_draining->load()) || (m_asked && *m_asked));
    writer->init();
    return *writer;
}

void SkrServerSession::closeResponse(SkarnMessageWriter& w)
{
    VEX_ASSERT(m_serv_writer == &w);
    if (!m_serv_writer)
        return;
    m_serv_writer->close();
    delete m_serv_writer;
    m_serv_writer = nullptr;
    m_responseComplete = true;
}

bool SkrServerSession::responseStarted() const
{
    return m_responseComplete || (m_serv_writer && static_cast<SkrMessageWriter*>(m_serv_writer)->started());
}

void SkrServerSession::release()
{
    if (m_serv_writer) {
        m_serv_writer->close();
        delete m_serv_writer;
        m_serv_writer = nullptr;
    }
    if (m_serv_reader) {
        delete m_serv_reader;
        m_serv_reader = nullptr;
    }
    delete this;
}
