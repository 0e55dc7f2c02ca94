// The fuzzer's bytes drive the writer (framing, boundary, properties, status,
// envelope, attachments of each kind) into memory; the reader must give back
// exactly what was written unless the writer refused. Arguments the writer may
// not refuse yet (see `known`) are reported once per kind on stderr instead.
#include "FuzzProcess.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "platform/dom/VexIDOM_Document.h"
#include "support/MemorySocket.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

namespace {

std::string pick(FuzzedDataProvider& in, const char* alphabet, std::size_t max)
{
    std::string out(in.ConsumeIntegralInRange<std::size_t>(1, max), ' ');
    for (char& c : out)
        c = alphabet[in.ConsumeIntegralInRange<std::size_t>(0, std::strlen(alphabet) - 1)];
    return out;
}

const char *TOKEN = "abcxyzABZ019-.+_", *TEXT = "ab <>&\"'\t\r\n=;\xC3\xA9";
std::string str(const char* text) { return text ? text : "(null)"; }

// `known`: why the writer may have written what the reader refuses, or empty.
void check(bool good, const std::string& known, const char* what)
{
    static std::set<std::string> reported;
    if (!good && (known.empty() || reported.insert(known + ": " + what).second))
        std::fprintf(stderr, "round trip: %s writer/reader disagreement: %s\n", known.empty() ? "a" : known.c_str(), what);
    if (!good)
        known.empty() ? __builtin_trap() : throw 0;
}

bool boundaryTaken(const std::string& b)
{
    return !b.empty() && b.size() <= 70 && b.back() != ' ' && b.find_first_not_of(
        "'()+_,-./:=? 0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
}

struct Part { std::string type, id, data; };

void roundTrip(FuzzedDataProvider& in)
{
    const int isRequest = in.ConsumeBool(), multipart = in.ConsumeBool(), chunked = in.ConsumeBool();
    const int chunkSize = in.ConsumeIntegralInRange(0, 70000);
    const bool ownBoundary = in.ConsumeBool();
    const std::string boundary = ownBoundary ? in.ConsumeRandomLengthString(90) : "=_=mirra-mp-boundary=_=";
    std::string known = boundaryTaken(boundary) ? "" : "boundary the reader cannot take";
    SkrMessageWriter::Properties props{{"Authorization", pick(in, TOKEN, 40)}, {"Host", pick(in, TOKEN, 40)}};
    int status = 0;
    VexIDOM_Document doc;  // the envelope tree is made here and read back into it
    VexIDOM_Element envelope;
    std::string streamed;  // the envelope's bytes when it is streamed
    std::vector<Part> parts;
    MemorySocket wire;
    try {
        SkrMessageWriter w("/p", isRequest, multipart, &wire, chunked, chunkSize, ownBoundary ? boundary.c_str() : nullptr);
        w.init();
        w.setProperties(&props);
        if (!isRequest && in.ConsumeBool()) {
            status = in.ConsumeIntegralInRange(100, 599);
            // 1xx but 101 is an interim response; 101, 204 and 304 have no body.
            known = status / 100 == 1 && status != 101 ? "status 1xx, read as an interim response"
                    : status == 101 || status == 204 || status == 304 ? "status whose response has no body"
                                                                      : known;
            w.setResponseStatus(status, pick(in, TOKEN, 20).c_str());
        }
        if (in.ConsumeBool()) {
            // Namespace-aware nodes, as the parser makes them (equality compares local names).
            envelope = doc.createElementNS(nullptr, pick(in, "abcxyz", 8).c_str());
            if (in.ConsumeBool())
                envelope.setAttributeNS(nullptr, pick(in, "pq", 3).c_str(), pick(in, TEXT, 20).c_str());
            envelope.appendChild(doc.createTextNode(pick(in, TEXT, 60).c_str()));
            w.setEnvelope(envelope);
        } else {
            QioOutputStream& s = isRequest && in.ConsumeBool() ? w.openEnvelope(pick(in, TOKEN, 10).c_str()) : w.openEnvelope();
            streamed = in.ConsumeRandomLengthString(3000);
            s.write(streamed.data(), static_cast<unsigned>(streamed.size()));
            w.closeEnvelope(s);
        }
        while (multipart && in.remaining_bytes() && parts.size() < 4) {
            Part p{pick(in, TOKEN, 12) + "/" + pick(in, TOKEN, 12), "<" + pick(in, TOKEN, 20) + ">", ""};
            const char* type = in.ConsumeIntegralInRange(0, 15) ? p.type.c_str() : nullptr;
            const char* id = in.ConsumeIntegralInRange(0, 15) ? p.id.c_str() : nullptr;
            known = !type || !id ? "no content type or id" : known;
            const char* charset = in.ConsumeBool() ? "utf-8" : nullptr;
            std::string extra = in.ConsumeBool() ? "X-" + pick(in, TOKEN, 8) + ":" + pick(in, TOKEN, 8) : "";
            const int how = in.ConsumeIntegralInRange(0, 3);
            p.data = in.ConsumeRandomLengthString(5000);
            const unsigned length = static_cast<unsigned>(p.data.size());
            if (how < 2) {
                how ? w.addAttachment(type, charset, p.data.data(), length, id)
                    : w.addAttachment(type, charset, extra.empty() ? nullptr : extra.c_str(), p.data.data(), length, id);
            } else {
                QioOutputStream& s = how == 2 ? w.openAttachment(type, charset, extra.c_str(), id, in.ConsumeBool())
                                              : w.openAttachment(type, charset, id, 0);
                for (unsigned at = 0, n; at < length; at += n)
                    s.write(p.data.data() + at, n = std::min<unsigned>(length - at, 1 + in.ConsumeIntegral<uint16_t>()));
                w.closeAttachment(s);
            }
            parts.push_back(Part{type ? p.type : "", id ? p.id : "", p.data});
        }
        w.close();
    } catch (const VexThrowable&) {
        return;  // the writer refused: nothing to read back
    }
    bool inside = multipart && ("\r\n" + streamed).find("\r\n--" + boundary) != std::string::npos;
    for (const Part& p : parts)
        inside = inside || ("\r\n" + p.data + "\r\n").find("\r\n--" + boundary) != std::string::npos;
    known = inside ? "a part holds its delimiter line" : known;

    MemorySocket back(wire.output().data());
    try {
        SkrMessageReader r(isRequest, back.getInputStream(), &back);
        if (envelope.isNull()) {
            QioInputStream& s = r.openEnvelope();
            check(drainStream(s, chunkSize) == streamed, known, "envelope bytes");
            r.closeEnvelope(s);
        } else {
            r.getEnvelope(doc);
            check(doc.getDocumentElement().isEqualNode(envelope), known, "envelope tree");
        }
        check(!status || str(r.getHeader("skarn-status-code")) == std::to_string(status), known, "status");
        for (const Part& p : parts) {
            check(r.hasMoreAttachments(), known, "attachment count");
            SkarnAttachmentReader& a = r.openNextAttachment();
            check((p.id.empty() || p.id == str(a.getContentID())) && (p.type.empty() || p.type == str(a.getContentType())),
                  known, "attachment id or type");
            check(drainStream(a.getInputStream(), chunkSize) == p.data, known, "attachment bytes");
            r.closeAttachment(a);
        }
        check(!r.hasMoreAttachments(), known, "attachment count");
    } catch (const VexThrowable&) {
        check(false, known, "the reader refused what the writer wrote");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    try {
        roundTrip(in);
    } catch (int) {  // a known disagreement
    }
    return 0;
}
