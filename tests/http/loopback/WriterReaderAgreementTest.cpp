// Every combination of boundary, content type, charset and content ID, over a
// real connection: refused by the writer before anything is sent, or read back whole.
#include "http/loopback/LoopbackSupport.h"

#include "http/SkrMessageWriter.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/dom/VexIDOM_Document.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>

namespace {

// Runs `body`; the function text of the VexIllegalArgumentError it raises, or "accepted".
std::string refusal(const std::function<void()>& body)
{
    try {
        body();
    } catch (const VexIllegalArgumentError& e) {
        return e.getBackTraceAt(0).function;
    }
    return "accepted";
}

struct Boundary { const char* label; const char* value; bool accepted; };
const std::string b70(70, 'b'), b71(71, 'b'), q72 = "\"" + std::string(70, 'q') + "\"";
const Boundary kBoundaries[] = {
    {"default", nullptr, true}, {"empty", "", false}, {"70 characters", b70.c_str(), true},
    {"71 characters", b71.c_str(), false}, {"72 quoted", q72.c_str(), false}, {"backslash", "a\\b", true},
    {"quote", "a\"b", false}, {"CR", "a\rb", false}, {"LF", "a\nb", false}, {"separators", "a b;c=d", true}};
// Content types and what the reader reports for them (null: refused by the writer).
const std::pair<const char*, const char*> kTypes[] = {
    {nullptr, "application/octet-stream"}, {"", "application/octet-stream"}, {"text/plain", "text/plain"},
    {"multipart/mixed", nullptr}, {"multipart/mixed; boundary=in", "multipart/mixed"}, {"; x=1", nullptr}};
const char* const kCharsets[] = {nullptr, "utf-8"};
// Content IDs; "fresh" stands for a new one per part, which the writer accepts.
const char* const kIds[] = {nullptr, "", " \r\n", ";x", "fresh"};

TEST(WriterReaderAgreement, EveryCombinationIsRefusedOrReadBack)
{
    std::unique_ptr<VexIDOM_Document> env(makeEnvelope("agreement"));
    int row = 0;
    for (const Boundary& b : kBoundaries) {
        SCOPED_TRACE(b.label);
        SocketPair pair = makeSocketPair();
        const int chunk = ++row % 2 ? 0 : 4000;
        SkrMessageWriter w("/p", 1, 1, pair.client.get(), chunk, chunk, b.value);
        if (!b.accepted) {
            EXPECT_EQ("SkrMessageWriter::init", refusal([&] { w.init(); }));
            pair.client->Close();
            EXPECT_EQ(-1, pair.server->getInputStream().read()) << "nothing reached the wire";
            EXPECT_EQ(1, pair.client->isReusable());
            continue;
        }
        std::vector<InPart> expected;
        auto writing = std::async(std::launch::async, [&] {
            w.init();
            VexIDOM_Element root = env->getDocumentElement();
            w.setEnvelope(root);
            for (const auto& t : kTypes)
                for (const char* cs : kCharsets)
                    for (const char* id : kIds) {
                        const std::string fresh = "id" + std::to_string(expected.size());
                        const char* cid = id && std::string(id) == "fresh" ? fresh.c_str() : id;
                        const std::string data = std::string("part ") + (t.first ? t.first : "(null)");
                        const bool accepted = t.second && cid == fresh.c_str();
                        EXPECT_EQ(accepted ? "accepted" : "SkrMessageWriter::openAttachment", refusal([&] {
                            w.addAttachment(t.first, cs, data.data(), static_cast<unsigned>(data.size()), cid);
                        }));
                        if (accepted)
                            expected.push_back({fresh, t.second, data});
                    }
            w.close();
        });
        Received got = readMessage(*pair.server, true);
        writing.get();
        ASSERT_EQ(expected.size(), got.parts.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(expected[i].id, got.parts[i].id);
            EXPECT_EQ(expected[i].contentType, got.parts[i].contentType);
            EXPECT_EQ(expected[i].bytes, got.parts[i].bytes);
        }
        EXPECT_EQ(1, pair.client->isReusable());
        EXPECT_EQ(1, pair.server->isReusable());
    }
}

}  // namespace
