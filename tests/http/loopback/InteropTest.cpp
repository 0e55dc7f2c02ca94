// Peers that nobody here wrote: curl posts SOAP messages to a small loopback
// server made of a message reader and a message writer, and Python's standard
// email package parses a multipart request that the writer put on a socket.
#include "http/loopback/LoopbackSupport.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "platform/core/VexThrowable.h"
#include "platform/dom/VexIDOM_Document.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What the server read from one request.
struct ServerSaw {
    std::string contentType;
    std::string transferEncoding;
    std::string envelope;
    std::vector<InPart> parts;
    std::string error;
};

const std::string RESPONSE_TEXT = "<r:Ok xmlns:r=\"urn:r\">done &amp; caf\xC3\xA9</r:Ok>";

// Serves one request per connection: reads it whole, answers RESPONSE_TEXT.
class SoapServer {
public:
    SoapServer()
        : m_peer(LoopbackPeer::IPv4, [this](int fd, const std::atomic<bool>&) { serve(fd); })
    {
    }
    std::string url() const { return m_peer.url("/svc"); }
    std::vector<ServerSaw> saw()
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_saw;
    }

private:
    void serve(int fd)
    {
        AcceptedPlainSocket sock(::dup(fd));
        ServerSaw s;
        try {
            SkrMessageReader r(1, sock.getInputStream(), &sock);
            QioInputStream& e = r.openEnvelope();
            s.envelope = drain(e, 1000);
            r.closeEnvelope(e);
            if (const char* ct = r.getHeader("content-type"))
                s.contentType = ct;
            if (const char* te = r.getHeader("transfer-encoding"))
                s.transferEncoding = te;
            while (r.hasMoreAttachments()) {
                SkarnAttachmentReader& a = r.openNextAttachment();
                s.parts.push_back({a.getContentID(), a.getContentType(), drain(a.getInputStream())});
                r.closeAttachment(a);
            }
        } catch (VexThrowable& t) {
            s.error = t.toString().str();
        }
        {
            // Recorded before the answer goes out: once curl has the answer, the
            // test looks at what the server saw.
            std::lock_guard<std::mutex> g(m_lock);
            m_saw.push_back(s);
        }
        try {
            SkrMessageWriter w("", 0, 0, &sock, 0, 0, nullptr);
            w.init();
            QioOutputStream& out = w.openEnvelope();
            out.write(RESPONSE_TEXT.data(), static_cast<unsigned>(RESPONSE_TEXT.size()));
            w.closeEnvelope(out);
            w.close();
        } catch (VexThrowable&) {
            // A failed answer shows on curl's side: its output differs from RESPONSE_TEXT.
        }
    }

    std::mutex m_lock;
    std::vector<ServerSaw> m_saw;
    LoopbackPeer m_peer;  // last: stopped first, while the rest still exists
};

std::string writeFile(const std::string& name, const std::string& bytes)
{
    std::string path = testing::TempDir() + "skarn_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Runs a command and returns its standard output.
std::string run(const std::string& command, int* status)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        *status = -1;
        return out;
    }
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    *status = ::pclose(p);
    return out;
}

const std::string ENVELOPE =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<soap:Body><m:Put xmlns:m=\"urn:m\">caf\xC3\xA9 &amp; more</m:Put></soap:Body></soap:Envelope>";

TEST(CurlInterop, PostedEnvelopesArriveExactly)
{
    ASSERT_EQ(0, std::system("curl --version > /dev/null 2>&1")) << "curl is not installed (scripts/setup.sh installs it)";
    SoapServer server;
    std::string env = writeFile("env.xml", ENVELOPE);
    std::string binary = allByteValues(4);
    std::string bin = writeFile("bin.dat", binary);
    const std::string base = "curl -sS --max-time 10 -H 'Expect:' ";
    struct Case {
        const char* label;
        std::string args;
    } cases[] = {
        {"plain", "-H 'Content-Type: text/xml; charset=UTF-8' -H 'SOAPAction: \"\"' --data-binary @" + env},
        {"chunked", "-H 'Content-Type: text/xml; charset=UTF-8' -H 'Transfer-Encoding: chunked' --data-binary @" + env},
        {"multipart", "-F 'envelope=@" + env + ";type=text/xml' -F 'bin=@" + bin + ";type=application/octet-stream'"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.label);
        int status = 0;
        std::string answer = run(base + c.args + " " + server.url(), &status);
        EXPECT_EQ(0, status);
        EXPECT_EQ(RESPONSE_TEXT, answer);
        std::vector<ServerSaw> saw = server.saw();
        ASSERT_EQ(i + 1, saw.size());
        const ServerSaw& s = saw.back();
        EXPECT_EQ("", s.error);
        EXPECT_EQ(ENVELOPE, s.envelope);
        if (i == 1) {
            EXPECT_EQ("chunked", s.transferEncoding);
        }
        if (i == 2) {
            EXPECT_EQ(0u, s.contentType.find("multipart/form-data")) << s.contentType;
            ASSERT_EQ(1u, s.parts.size());
            EXPECT_EQ("application/octet-stream", s.parts[0].contentType);
            EXPECT_EQ(binary, s.parts[0].bytes);
        } else {
            EXPECT_EQ(0u, s.parts.size());
        }
    }
    std::remove(env.c_str());
    std::remove(bin.c_str());
}

std::string hex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(EmailInterop, WrittenMultipartParsesIntoSamePartsHeadersAndBytes)
{
    ASSERT_EQ(0, std::system("python3 -c 'import email' > /dev/null 2>&1")) << "python3 is not installed";
    SocketPair pair = makeSocketPair();
    std::unique_ptr<VexIDOM_Document> env(makeEnvelope("caf\xC3\xA9 & <x>"));
    const std::string envText = serialise(env->getDocumentElement());
    const std::string binary = allByteValues(2);
    const std::string qp = "caf=C3=A9 =3D=\r\nsoft\r\nline";
    auto writing = std::async(std::launch::async, [&] {
        SkrMessageWriter w("/svc", 1, 1, pair.client.get(), 0, 0, nullptr);
        SkrMessageWriter::Properties props{{"Host", "127.0.0.1:8080"}};
        w.init();
        w.setProperties(&props);
        VexIDOM_Element root = env->getDocumentElement();
        w.setEnvelope(root);
        w.addAttachment("application/octet-stream", nullptr, "X-A:1\r\nX-B: two\r\n", binary.data(),
                        static_cast<unsigned>(binary.size()), "1");
        w.addAttachment("text/skarn-pre-encoded-quoted-printable", "UTF-8", qp.data(), static_cast<unsigned>(qp.size()), "2");
        w.addAttachment(root, "3");
        w.close();
    });
    // Capture the request from the socket: head, then Content-Length bytes.
    std::string wire;
    QioInputStream& in = pair.server->getInputStream();
    char buf[8192];
    std::size_t headEnd;
    while ((headEnd = wire.find("\r\n\r\n")) == std::string::npos) {
        unsigned n = in.read(buf, sizeof buf);
        ASSERT_NE(QioInputStream::END, n);
        wire.append(buf, n);
    }
    std::size_t cl = wire.find("Content-Length: ");
    ASSERT_NE(std::string::npos, cl);
    std::size_t length = std::stoul(wire.substr(cl + 16));
    while (wire.size() < headEnd + 4 + length) {
        unsigned n = in.read(buf, sizeof buf);
        ASSERT_NE(QioInputStream::END, n);
        wire.append(buf, n);
    }
    writing.get();
    ASSERT_EQ(headEnd + 4 + length, wire.size());
    ASSERT_EQ(0u, wire.find("POST /svc HTTP/1.1\r\n"));
    std::string mime = wire.substr(wire.find("\r\n") + 2);
    std::string file = writeFile("request.mime", mime);
    int status = 0;
    // The script lies beside this source file.
    std::string here = __FILE__;
    std::string script = here.substr(0, here.rfind('/') + 1) + "email_parts.py";
    std::string out = run("python3 " + script + " " + file, &status);
    ASSERT_EQ(0, status) << out;
    std::remove(file.c_str());

    const std::string expected =
        "TYPE multipart/related\n"
        "BOUNDARY =_=mirra-mp-boundary=_=\n"
        "PART\n"
        "H Content-Type\ttext/xml; charset=UTF-8\nH Content-ID\tenvelope\nH Host\t127.0.0.1:8080\n"
        "H Content-Transfer-Encoding\tBinary\n"
        "RAW " + hex(envText) + "\nDEC " + hex(envText) + "\n"
        "PART\n"
        "H Content-Type\tapplication/octet-stream\nH Content-ID\t1\nH Host\t127.0.0.1:8080\n"
        // The wire carries "X-B:  two"; mail header syntax drops the blanks after the colon.
        "H Content-Transfer-Encoding\tBinary\nH X-A\t1\nH X-B\ttwo\n"
        "RAW " + hex(binary) + "\nDEC " + hex(binary) + "\n"
        "PART\n"
        "H Content-Type\ttext/skarn-pre-encoded-quoted-printable; charset=UTF-8\nH Content-ID\t2\n"
        "H Host\t127.0.0.1:8080\nH Content-Transfer-Encoding\tQuoted-Printable\n"
        "RAW " + hex(qp) + "\nDEC " + hex("caf\xC3\xA9 =soft\r\nline") + "\n"
        "PART\n"
        "H Content-Type\ttext/xml; charset=UTF_8\nH Content-ID\t3\nH Host\t127.0.0.1:8080\n"
        "H Content-Transfer-Encoding\tBinary\n"
        "RAW " + hex(envText) + "\nDEC " + hex(envText) + "\n";
    EXPECT_EQ(expected, out);
}

}  // namespace
