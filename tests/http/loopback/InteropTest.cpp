// Peers that nobody here wrote: curl posts a SOAP message, asking for an
// interim answer first, to a small loopback server made of a message reader and
// a message writer; Python's standard email package parses a multipart request
// that the writer put out.
#include "api/SkarnAttachmentReader.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "platform/core/VexThrowable.h"
#include "support/AcceptedPlainSocket.h"
#include "support/LoopbackPeer.h"
#include "support/MemoryInputStream.h"
#include "support/MemorySocket.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

const std::string RESPONSE_TEXT = "<r:Ok xmlns:r=\"urn:r\">done &amp; caf\xC3\xA9</r:Ok>";

// Every byte value, `times` times.
std::string allByteValues(int times)
{
    std::string out;
    for (int i = 0; i < 256 * times; ++i)
        out += static_cast<char>(i);
    return out;
}

std::string writeFile(const std::string& name, const std::string& bytes)
{
    std::string path = testing::TempDir() + "skarn_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Runs a command; its standard output, and its status in `status`.
std::string run(const std::string& command, int* status)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    *status = p ? ::pclose(p) : -1;
    return out;
}

TEST(CurlInterop, PostedMultipartArrivesExactly)
{
    ASSERT_EQ(0, std::system("curl --version > /dev/null 2>&1")) << "curl is not installed (scripts/setup.sh installs it)";
    const std::string envelope =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
        "<soap:Body><m:Put xmlns:m=\"urn:m\">caf\xC3\xA9 &amp; more</m:Put></soap:Body></soap:Envelope>";
    const std::string binary = allByteValues(4);
    const std::string env = writeFile("env.xml", envelope), bin = writeFile("bin.dat", binary);
    // The server reads the request whole and records what it saw ("<envelope>|<content-type>|<type> <bytes>"
    // or the error) before it answers RESPONSE_TEXT; the test reads it once the server's thread is joined.
    std::string got;
    LoopbackPeer server(LoopbackPeer::IPv4, [&got](int fd, const std::atomic<bool>&) {
        AcceptedPlainSocket sock(::dup(fd));
        try {
            SkrMessageReader r(1, sock.getInputStream(), &sock);
            QioInputStream& e = r.openEnvelope();
            got = drain(e, 1000);
            r.closeEnvelope(e);
            got += std::string("|") + (r.getHeader("content-type") ? r.getHeader("content-type") : "");
            while (r.hasMoreAttachments()) {
                SkarnAttachmentReader& a = r.openNextAttachment();
                got += std::string("|") + a.getContentType() + " " + drain(a.getInputStream());
                r.closeAttachment(a);
            }
            SkrMessageWriter w("", 0, 0, &sock, 0, 0, nullptr);
            w.init();
            QioOutputStream& out = w.openEnvelope();
            out.write(RESPONSE_TEXT.data(), static_cast<unsigned>(RESPONSE_TEXT.size()));
            w.closeEnvelope(out);
            w.close();
        } catch (VexThrowable& t) {
            got = t.toString().str();  // curl's output then differs from RESPONSE_TEXT
        }
    });
    int status = 0;
    const std::string out = run("curl -sS -v --max-time 10 -H 'Expect: 100-continue' -F 'envelope=@" + env + ";type=text/xml' -F 'bin=@" +
                                bin + ";type=application/octet-stream' " + server.url("/svc") + " 2>&1", &status);
    EXPECT_EQ(0, status) << out;
    EXPECT_NE(std::string::npos, out.find(RESPONSE_TEXT)) << out;
    // The reader answers the request for an interim response before the body comes.
    EXPECT_NE(std::string::npos, out.find("< HTTP/1.1 100 Continue")) << out;
    server.stop();
    EXPECT_EQ(1, server.accepted());
    // curl picks its own boundary: cut it out.
    const std::size_t b = got.find("boundary=") + 9;
    got.erase(b, got.find('|', b) - b);
    EXPECT_EQ(envelope + "|multipart/form-data; boundary=|application/octet-stream " + binary, got);
    std::remove(env.c_str());
    std::remove(bin.c_str());
}

std::string hex(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        out += "0123456789abcdef"[c >> 4];
        out += "0123456789abcdef"[c & 15];
    }
    return out;
}

TEST(EmailInterop, WrittenMultipartParsesIntoSamePartsHeadersAndBytes)
{
    ASSERT_EQ(0, std::system("python3 -c 'import email' > /dev/null 2>&1")) << "python3 is not installed";
    const std::string envText = "<s:Envelope xmlns:s=\"urn:s\"><s:Body q=\"&quot;&lt;&amp;\">caf\xC3\xA9 &amp; &lt;x></s:Body></s:Envelope>";
    const std::string binary = allByteValues(2), qp = "caf=C3=A9 =3D=\r\nsoft\r\nline";
    MemorySocket sock;
    {
        SkrMessageWriter w("/svc", 1, 1, &sock, 0, 0, nullptr);
        SkrMessageWriter::Properties props{{"Host", "127.0.0.1:8080"}};
        w.init();
        w.setProperties(&props);
        QioOutputStream& e = w.openEnvelope();
        e.write(envText.data(), static_cast<unsigned>(envText.size()));
        w.closeEnvelope(e);
        w.addAttachment("application/octet-stream", nullptr, "X-A:1\r\nX-B: two\r\n", binary.data(), static_cast<unsigned>(binary.size()), "1");
        w.addAttachment("text/skarn-pre-encoded-quoted-printable", "UTF-8", qp.data(), static_cast<unsigned>(qp.size()), "2");
        w.close();
    }
    const std::string wire = sock.output().data();
    ASSERT_EQ(0u, wire.find("POST /svc HTTP/1.1\r\n"));
    const std::string file = writeFile("request.mime", wire.substr(wire.find("\r\n") + 2));
    const std::string here = __FILE__;  // the script lies beside this source file
    int status = 0;
    const std::string out = run("python3 " + here.substr(0, here.rfind('/') + 1) + "email_parts.py " + file, &status);
    ASSERT_EQ(0, status) << out;
    std::remove(file.c_str());
    const std::string host = "H Host\t127.0.0.1:8080\n";
    EXPECT_EQ("TYPE multipart/related\nBOUNDARY =_=mirra-mp-boundary=_=\n"
              "PART\nH Content-Type\ttext/xml; charset=UTF-8\nH Content-ID\tenvelope\n" + host +
              "H Content-Transfer-Encoding\tBinary\nRAW " + hex(envText) + "\nDEC " + hex(envText) + "\n"
              "PART\nH Content-Type\tapplication/octet-stream\nH Content-ID\t1\n" + host +
              // The wire carries "X-B:  two"; mail header syntax drops the blanks after the colon.
              "H Content-Transfer-Encoding\tBinary\nH X-A\t1\nH X-B\ttwo\nRAW " + hex(binary) + "\nDEC " + hex(binary) + "\n"
              "PART\nH Content-Type\ttext/skarn-pre-encoded-quoted-printable; charset=UTF-8\nH Content-ID\t2\n" + host +
              "H Content-Transfer-Encoding\tQuoted-Printable\nRAW " + hex(qp) + "\nDEC " + hex("caf\xC3\xA9 =soft\r\nline") + "\n",
              out);
}

}  // namespace
