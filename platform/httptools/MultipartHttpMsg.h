#ifndef MULTIPART_HTTP_MSG_H
#define MULTIPART_HTTP_MSG_H

#include "platform/httptools/OnePieceHttpMsg.h"

#include <string>

// A multipart/related message: the head carries
//   MIME-Version: 1.0
//   Content-Type: multipart/related; type="text/xml"; boundary="<boundary>"
// (the boundary quoted, since it may hold '=', with '\' and '"' escaped), and the body is the parts,
// each opened by a "--<boundary>" line and the last closed by "--<boundary>--".
//
//   startRequest/startResponse, setHeader..., then per part:
//   p = addOnePiece(0); p->setHeader...; p->getBodyStream().write...; endPart(p);
//   finally end().
//
// One part is written at a time: the next addOnePiece comes after endPart.
class MultipartHttpMsg : public HttpMsgNode {
public:
    MultipartHttpMsg(QioOutputStream& out, int chunkSize, const char* boundary);
    ~MultipartHttpMsg() override;
    MultipartHttpMsg(const MultipartHttpMsg&) = delete;
    MultipartHttpMsg& operator=(const MultipartHttpMsg&) = delete;

    // A new part, owned by the caller until endPart. `mode` (0, or -1 for a
    // part streamed by the application) does not change the framing: every
    // part is written through as its bytes come.
    OnePieceHttpMsg* addOnePiece(int mode);
    // Completes the part (its head is sent if it has no bytes) and deletes it.
    void endPart(OnePieceHttpMsg* part);
    // Writes the closing delimiter and completes the message.
    void end() override;

    const std::string& getBoundary() const { return m_boundary; }
    // The "type" parameter of the head's Content-Type: the root part's type ("text/xml" unless set; before the head goes).
    void setRootType(const char* type) { m_rootType = type; }

protected:
    void addOwnHeaders(std::string& head) override;

private:
    friend class OnePieceHttpMsg;

    std::string m_boundary;
    std::string m_rootType = "text/xml";
    unsigned m_parts = 0;
};

#endif
