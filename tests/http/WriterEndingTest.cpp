// A write failing through the writer's stream spends the connection and ends
// nothing; close() ends a single-part message whose envelope is still open.
#include "http/SkrMessageWriter.h"
#include "platform/streams/QioIOException.h"
#include "support/MemorySocket.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WriterEnding, FailedStreamWriteSpendsTheConnectionAndEndsNothing)
{
    struct Row { const char* label; int attachments; bool inAttachment; } rows[] = {
        {"single-part envelope", 0, false}, {"multipart envelope", 1, false}, {"attachment", 1, true}};
    const std::string big(100000, 'z');  // more than one gathered send
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        MemorySocket sock;
        sock.output().failAt(1);
        SkrMessageWriter w("/", 1, r.attachments, &sock, 1, 4000, nullptr);
        w.init();
        QioOutputStream* s = &w.openEnvelope();
        if (r.inAttachment) {
            w.closeEnvelope(*s);
            s = &w.openAttachment("a/b", nullptr, "1", 0);
        }
        try {
            s->write(big.data(), static_cast<unsigned>(big.size()));
            ADD_FAILURE() << "nothing raised";
        } catch (const QioIOException&) {
            EXPECT_EQ(0, sock.isReusable());
        }
        const std::size_t sent = sock.output().data().size();
        r.inAttachment ? w.closeAttachment(*s) : w.closeEnvelope(*s);
        w.close();
        EXPECT_EQ(sent, sock.output().data().size()) << "no last chunk, no closing delimiter";
    }
}

TEST(WriterEnding, CloseEndsASinglePartMessageWhoseEnvelopeIsOpen)
{
    for (int chunk : {0, 4000}) {
        SCOPED_TRACE(chunk);
        std::string wire[2];
        for (int closeEnvelopeFirst : {0, 1}) {
            MemorySocket sock;
            SkrMessageWriter w("/", 1, 0, &sock, chunk, chunk, nullptr);
            w.init();
            QioOutputStream& s = w.openEnvelope();
            s.write("<e/>", 4);
            if (closeEnvelopeFirst)
                w.closeEnvelope(s);
            w.close();
            wire[closeEnvelopeFirst] = sock.output().data();
            EXPECT_EQ(1, sock.isReusable());
        }
        EXPECT_EQ(wire[1], wire[0]);
        EXPECT_NE(std::string::npos, wire[0].find("<e/>"));
    }
}

}  // namespace
