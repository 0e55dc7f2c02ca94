#include "http/SkrAttachmentReader.h"

#include "mime/SkrMPInputStream.h"
#include "mime/SkrQPInputStream.h"
#include "support/ExpectThrow.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string part(const std::string& headers, const std::string& content) { return "--MIME_boundary\r\n" + headers + "\r\n" + content + "\r\n"; }

// A message body as the message reader sees it (CR LF pushed back in front).
std::string body()
{
    return "\r\n" + part("Content-Type: text/xml; charset=UTF-8\r\nContent-ID: <env@x>\r\nContent-Length: 4\r\n", "<e/>") +
           part("Content-Type: text/plain\r\nContent-Transfer-Encoding: Quoted-Printable\r\nContent-ID: <qp>\r\n", "caf=C3=A9 =\r\nsoft\r\nline2=3D") +
           part("Content-Type: application/octet-stream\r\nContent-Encoding: GZIP\r\n", "=3D raw") +
           part("Content-Transfer-Encoding: quoted-printable-x\r\n", "long=41") + part("Content-Transfer-Encoding: BASE64\r\n", "QUJD") +
           part("content-transfer-encoding: quoted-printable\r\n", "last=41") + "--MIME_boundary--\r\n";
}

struct Message {
    MemoryInputStream mem;
    SkrMPInputStream mp;
    SkrAttachmentReader reader;
    explicit Message(unsigned maxRead, const std::string& wire = body(), const char* boundary = "\"MIME_boundary\"")
        : mem(wire, maxRead), mp(mem, boundary), reader(&mp) {}
    bool next()
    {
        if (!mp.hasNextPart())
            return false;
        mp.nextPart();
        reader.readPartHeaders();
        return true;
    }
    // "id|type|length|gzip|raw or decoded|content"
    std::string summary()
    {
        QioInputStream& in = reader.getInputStream();
        return std::string(reader.getContentID()) + "|" + reader.getContentType() + "|" + std::to_string(reader.getContentLength()) + "|" +
               std::to_string(reader.isGzipEncoded()) + "|" + (&in == &mp ? "raw" : dynamic_cast<SkrQPInputStream*>(&in) ? "qp" : "?") + "|" +
               drain(in, 3);
    }
};

TEST(AttachmentReader, PartsHeadersAndDecodedContent)
{
    for (unsigned maxRead : {0u, 1u, 17u}) {
        SCOPED_TRACE(maxRead);
        Message m(maxRead);
        ASSERT_TRUE(m.next());
        EXPECT_STREQ("text/xml; charset=UTF-8", m.reader.getHeader("content-type"));
        EXPECT_EQ(nullptr, m.reader.getHeader("Content-Type"));
        EXPECT_EQ("<env@x>|text/xml|4|0|raw|<e/>", m.summary());
        ASSERT_TRUE(m.next());
        EXPECT_EQ("<qp>|text/plain|0|0|qp|caf\xC3\xA9 soft\r\nline2=", m.summary());
        // No transfer encoding: the multipart stream itself, not the previous decoder.
        ASSERT_TRUE(m.next());
        EXPECT_EQ("|application/octet-stream|0|1|raw|=3D raw", m.summary());
        ASSERT_TRUE(m.next());  // a value longer than 16 characters reads as raw
        EXPECT_EQ("||0|0|raw|long=41", m.summary());
        ASSERT_TRUE(m.next());  // base64 is refused; the part can still be skipped
        SkarnException e = expectSkarnError([&] { m.reader.getInputStream(); }, {29, 1841438350u, "", "SkrAttachmentReader::getInputStream"});
        EXPECT_EQ("BASE64", parmsOf(e));
        ASSERT_TRUE(m.next());
        EXPECT_EQ("lastA", drain(m.reader.getInputStream()));
        EXPECT_FALSE(m.next());
        m.mp.unWrap();
    }
}

TEST(AttachmentReader, HeaderErrorsAndShortParts)
{
    // A header error of a part passes unchanged.
    Message bad(0, "\r\n" + part("Content-Length: -1\r\n", "x") + "--MIME_boundary--\r\n", "MIME_boundary");
    expectSkarnError([&] { bad.next(); }, {14, 1841768624u, "Content-Length: -1", "SkrHTTPParser::processHeader"});
    // An empty part says so with "Content-Length: 0".
    Message empty(0, "\r\n" + part("Content-Length: 0\r\n", "") + "--MIME_boundary--\r\n", "MIME_boundary");
    ASSERT_TRUE(empty.next());
    EXPECT_EQ("||0|0|raw|", empty.summary());
    EXPECT_STREQ("0", empty.reader.getHeader("content-length"));
    EXPECT_FALSE(empty.next());
    // The part ends before its empty line: the header block simply ends there.
    Message m(0, "\r\n--b\r\nX-Only: 1\r\n--b--\r\n", "b");
    ASSERT_TRUE(m.next());
    EXPECT_STREQ("1", m.reader.getHeader("x-only"));
    EXPECT_EQ("", drain(m.reader.getInputStream()));
    EXPECT_FALSE(m.next());
}

}  // namespace
