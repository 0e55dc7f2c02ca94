#include "platform/httptools/MultipartHttpMsg.h"

#include "platform/core/VexGuard.h"

MultipartHttpMsg::MultipartHttpMsg(QioOutputStream& out, int chunkSize, const char* boundary)
    : HttpMsgNode(&out, chunkSize), m_boundary(boundary ? boundary : "")
{
}

MultipartHttpMsg::~MultipartHttpMsg() = default;

void MultipartHttpMsg::addOwnHeaders(std::string& head)
{
    head += "MIME-Version: 1.0\r\n";
    head += "Content-Type: multipart/related; type=\"" + m_rootType + "\"; boundary=\"";
    // A quoted string: a backslash or a double quote in it is escaped, so
    // that the reading side gets the boundary back as the parts use it.
    for (char c : m_boundary) {
        if (c == '\\' || c == '"')
            head += '\\';
        head += c;
    }
    head += "\"\r\n";
}

OnePieceHttpMsg* MultipartHttpMsg::addOnePiece(int /*mode*/)
{
    checkOpen("MultipartHttpMsg::addOnePiece - the message was already ended");
    bool first = m_parts == 0;
    OnePieceHttpMsg* part = VEX_GUARDED_NEW("MultipartHttpMsg::addOnePiece", new OnePieceHttpMsg(*this, first));
    ++m_parts;
    return part;
}

void MultipartHttpMsg::endPart(OnePieceHttpMsg* part)
{
    if (!part)
        return;
    try {
        if (!part->m_ended)
            part->end();
    } catch (...) {
        delete part;
        throw;
    }
    delete part;
}

void MultipartHttpMsg::end()
{
    checkOpen("MultipartHttpMsg::end - the message was already ended");
    std::string close = m_parts ? "\r\n--" : "--";
    close += m_boundary;
    close += "--\r\n";
    writeBody(close.data(), static_cast<unsigned>(close.size()));
    endBody();
}
