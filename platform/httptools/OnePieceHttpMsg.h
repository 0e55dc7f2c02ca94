#ifndef ONE_PIECE_HTTP_MSG_H
#define ONE_PIECE_HTTP_MSG_H

#include "platform/core/VexThreadSpare.h"
#include "platform/httptools/HttpMsgNode.h"
#include "platform/streams/QioOutputStream.h"

// A message with a single body, or one part of a MultipartHttpMsg (made by
// its addOnePiece). The body is written through getBodyStream(), after the
// headers; end() completes a message (for a part, MultipartHttpMsg::endPart
// calls it). The body stream belongs to this object.
//
// A part writes, into its message's body, the delimiter line, its headers,
// an empty line and then its bytes as they come.
class OnePieceHttpMsg : public HttpMsgNode {
public:
    VEX_THREAD_RECYCLED;
    OnePieceHttpMsg(QioOutputStream& out, int chunkSize);
    ~OnePieceHttpMsg() override;
    OnePieceHttpMsg(const OnePieceHttpMsg&) = delete;
    OnePieceHttpMsg& operator=(const OnePieceHttpMsg&) = delete;

    void end() override;
    QioOutputStream& getBodyStream() { return m_bodyStream; }

    bool isPart() const { return m_parent != nullptr; }

private:
    friend class MultipartHttpMsg;
    OnePieceHttpMsg(MultipartHttpMsg& parent, bool first);

    void writeBytes(const char* data, unsigned length);
    void sendPartHead();

    class BodyStream : public QioOutputStream {
    public:
        explicit BodyStream(OnePieceHttpMsg& owner) : m_owner(owner) {}
        void write(const char* bytes, unsigned length) override { m_owner.writeBytes(bytes, length); }

    private:
        OnePieceHttpMsg& m_owner;
    };

    MultipartHttpMsg* m_parent = nullptr;
    bool m_first = false;
    BodyStream m_bodyStream;
};

#endif
