// The writer and the reader against each other: the fuzzer's bytes choose the
// writer's calls (request or response, chunked or not, chunk size, boundary,
// properties, status, the envelope as a tree or a stream, attachments of each
// kind with their types, ids, modes and bytes), the message goes to memory,
// and the reader must give back exactly what was written, unless the writer
// refused a call. Arguments the writer ought to refuse but may not yet (no id
// or type, a boundary the reader cannot take, a part holding its own
// delimiter line, an empty single-part body, status 100) are reported on stderr (the
// first five) instead of stopping the run; FUZZ_VERBOSE=1 shows the message.
#include "FuzzProcess.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "platform/core/VexThrowable.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "support/MemorySocket.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

std::string pick(FuzzedDataProvider& in, const char* alphabet, std::size_t max)
{
    std::string out(in.ConsumeIntegralInRange<std::size_t>(1, max), ' ');
    const std::size_t n = std::strlen(alphabet);
    for (char& c : out)
        c = alphabet[in.ConsumeIntegralInRange<std::size_t>(0, n - 1)];
    return out;
}

const char* TOKEN = "abcxyzABZ019-.+_";
const char* TEXT = "ab <>&\"'\t\r\n=;\xC3\xA9";

struct Part {
    std::string type, id, data;
};

std::string str(const char* text) { return text ? text : "(null)"; }

const std::string* written = nullptr;  // the message, for FUZZ_VERBOSE

// `known`: why the writer may have written what the reader refuses, or empty.
[[noreturn]] void mismatch(const std::string& known, const char* what)
{
    if (std::getenv("FUZZ_VERBOSE") && written)
        std::fprintf(stderr, "%s: %s\n", what, written->c_str());
    if (known.empty())
        __builtin_trap();
    static std::set<std::string> reported;
    if (reported.insert(known + ": " + what).second)
        std::fprintf(stderr, "round trip: known writer/reader disagreement (%s): %s\n", known.c_str(), what);
    throw 0;
}

bool boundaryTaken(const std::string& b)
{
    if (b.empty() || b.size() > 70 || b.back() == ' ')
        return false;
    for (char c : b)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string("'()+_,-./:=? ").find(c) == std::string::npos)
            return false;
    return true;
}

void roundTrip(FuzzedDataProvider& in)
{
    const int isRequest = in.ConsumeBool();
    const int multipart = in.ConsumeBool();
    const int chunked = in.ConsumeBool();
    const int chunkSize = in.ConsumeIntegralInRange(0, 70000);
    const bool ownBoundary = in.ConsumeBool();
    const std::string boundary = ownBoundary ? in.ConsumeRandomLengthString(90) : "=_=mirra-mp-boundary=_=";
    std::string known = ownBoundary && !boundaryTaken(boundary) ? "boundary the reader cannot take" : "";
    SkrMessageWriter::Properties props;
    if (in.ConsumeBool())
        props["Authorization"] = pick(in, TOKEN, 40);
    if (in.ConsumeBool())
        props["Host"] = pick(in, TOKEN, 40);
    int status = 0;
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "h"));
    VexIDOM_Element envelope;
    std::string streamed;
    std::vector<Part> parts;
    MemorySocket wire;
    try {
        SkrMessageWriter w("/p", isRequest, multipart, &wire, chunked, chunkSize, ownBoundary ? boundary.c_str() : nullptr);
        w.init();
        w.setProperties(&props);
        if (!isRequest && in.ConsumeBool()) {
            status = in.ConsumeIntegralInRange(100, 599);
            if (status == 100)
                known = "status 100, read as an interim response";
            w.setResponseStatus(status, pick(in, TOKEN, 20).c_str());
        }
        if (in.ConsumeBool()) {
            // Namespace-aware nodes, as the parser makes them (equality compares local names).
            envelope = doc->createElementNS(nullptr, pick(in, "abcxyz", 8).c_str());
            if (in.ConsumeBool())
                envelope.setAttributeNS(nullptr, pick(in, "pq", 3).c_str(), pick(in, TEXT, 20).c_str());
            envelope.appendChild(doc->createTextNode(pick(in, TEXT, 60).c_str()));
            w.setEnvelope(envelope);
        } else {
            QioOutputStream& s = isRequest && in.ConsumeBool() ? w.openEnvelope(pick(in, TOKEN, 10).c_str())
                                                                 : w.openEnvelope();
            streamed = in.ConsumeRandomLengthString(3000);
            s.write(streamed.data(), static_cast<unsigned>(streamed.size()));
            w.closeEnvelope(s);
        }
        while (multipart && in.remaining_bytes() && parts.size() < 4) {
            Part p{pick(in, TOKEN, 12) + "/" + pick(in, TOKEN, 12), "<" + pick(in, TOKEN, 20) + ">", ""};
            const char* type = in.ConsumeIntegralInRange(0, 15) ? p.type.c_str() : nullptr;
            const char* id = in.ConsumeIntegralInRange(0, 15) ? p.id.c_str() : nullptr;
            if (!type || !id)
                known = "no content type or id";
            const char* charset = in.ConsumeBool() ? "utf-8" : nullptr;
            std::string extra = in.ConsumeBool() ? "X-" + pick(in, TOKEN, 8) + ":" + pick(in, TOKEN, 8) : "";
            const int how = in.ConsumeIntegralInRange(0, 3);
            p.data = in.ConsumeRandomLengthString(5000);
            if (how == 0) {
                w.addAttachment(type, charset, extra.empty() ? nullptr : extra.c_str(), p.data.data(),
                                static_cast<unsigned>(p.data.size()), id);
            } else if (how == 1) {
                w.addAttachment(type, charset, p.data.data(), static_cast<unsigned>(p.data.size()), id);
            } else {
                QioOutputStream& s = how == 2 ? w.openAttachment(type, charset, extra.c_str(), id, in.ConsumeBool())
                                              : w.openAttachment(type, charset, id, 0);
                for (std::size_t at = 0; at < p.data.size();) {
                    std::size_t n = std::min<std::size_t>(p.data.size() - at, 1 + in.ConsumeIntegral<uint16_t>());
                    s.write(p.data.data() + at, static_cast<unsigned>(n));
                    at += n;
                }
                w.closeAttachment(s);
            }
            if (!type)
                p.type.clear();
            if (!id)
                p.id.clear();
            parts.push_back(p);
        }
        w.close();
    } catch (const VexThrowable&) {
        return;  // the writer refused: nothing to read back
    }
    // An empty single-part body goes out with "Content-Length: 0", which the
    // head parser refuses.
    if (!multipart && !chunked && envelope.isNull() && streamed.empty())
        known = "empty single-part body";
    // A part (the envelope included) holding "\r\n--boundary" cuts itself short.
    const std::string delimiter = "\r\n--" + (ownBoundary ? boundary : std::string("=_=mirra-mp-boundary=_="));
    if (multipart) {
        bool inside = ("\r\n" + streamed).find(delimiter) != std::string::npos;
        for (const Part& p : parts)
            inside = inside || ("\r\n" + p.data + "\r\n").find(delimiter) != std::string::npos;
        if (inside)
            known = "a part holds its delimiter line";
    }

    written = &wire.output().data();
    MemorySocket back(wire.output().data());
    try {
        SkrMessageReader r(isRequest, back.getInputStream(), &back);
        if (envelope.isNull()) {
            QioInputStream& s = r.openEnvelope();
            if (drainStream(s, chunkSize) != streamed)
                mismatch(known, "envelope bytes");
            r.closeEnvelope(s);
        } else {
            VexIDOM_Element parent = doc->getDocumentElement();
            r.getEnvelope(parent);
            if (!parent.getLastChild().isEqualNode(envelope))
                mismatch(known, "envelope tree");
        }
        if (status && str(r.getHeader("skarn-status-code")) != std::to_string(status))
            mismatch(known, "status");
        for (const Part& p : parts) {
            if (!r.hasMoreAttachments())
                mismatch(known, "attachment count");
            SkarnAttachmentReader& a = r.openNextAttachment();
            if ((!p.id.empty() && p.id != str(a.getContentID())) || (!p.type.empty() && p.type != str(a.getContentType())))
                mismatch(known, "attachment id or type");
            if (drainStream(a.getInputStream(), chunkSize) != p.data)
                mismatch(known, "attachment bytes");
            r.closeAttachment(a);
        }
        if (r.hasMoreAttachments())
            mismatch(known, "attachment count");
    } catch (VexThrowable& t) {
        if (std::getenv("FUZZ_VERBOSE"))
            std::fprintf(stderr, "%s\n", t.toString().c_str());
        mismatch(known, "the reader refused what the writer wrote");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    try {
        roundTrip(in);
    } catch (int) {
    }
    return 0;
}
