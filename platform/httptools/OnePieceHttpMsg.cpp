#include "platform/httptools/OnePieceHttpMsg.h"

#include "platform/httptools/MultipartHttpMsg.h"

VEX_THREAD_RECYCLED_DEFINE(OnePieceHttpMsg)

OnePieceHttpMsg::OnePieceHttpMsg(QioOutputStream& out, int chunkSize) : HttpMsgNode(&out, chunkSize), m_bodyStream(*this)
{
}

OnePieceHttpMsg::OnePieceHttpMsg(MultipartHttpMsg& parent, bool first)
    : HttpMsgNode(nullptr, 0), m_parent(&parent), m_first(first), m_bodyStream(*this)
{
    m_hasStartLine = true;  // a part has none
}

OnePieceHttpMsg::~OnePieceHttpMsg() = default;

void OnePieceHttpMsg::sendPartHead()
{
    std::string head;
    head.reserve(m_head.size() + m_parent->getBoundary().size() + 8);
    if (!m_first)
        head += "\r\n";
    head += "--";
    head += m_parent->getBoundary();
    head += "\r\n";
    head += m_head;
    head += "\r\n";
    m_parent->writeBody(head.data(), static_cast<unsigned>(head.size()));
    m_headSent = true;
}

void OnePieceHttpMsg::writeBytes(const char* data, unsigned length)
{
    checkOpen("OnePieceHttpMsg::write - the message was already ended");
    if (!m_parent) {
        writeBody(data, length);
        return;
    }
    if (!m_headSent)
        sendPartHead();
    m_parent->writeBody(data, length);
}

void OnePieceHttpMsg::end()
{
    checkOpen("OnePieceHttpMsg::end - the message was already ended");
    if (!m_parent) {
        endBody();
        return;
    }
    if (!m_headSent)
        sendPartHead();
    m_ended = true;
}
