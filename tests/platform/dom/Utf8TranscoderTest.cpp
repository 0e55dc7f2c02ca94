// The parser's UTF-8 decoder gives what Xerces' own gives, byte for byte:
// the characters, their sizes, what was eaten, and the same failure with the
// same text; and it is the decoder a UTF-8 document is read with.
#include "platform/dom/VexIDOM_Utf8Transcoder.h"

#include <gtest/gtest.h>
#include <xercesc/framework/XMLRecognizer.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/UTFDataFormatException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <memory>
#include <string>
#include <vector>

using namespace XERCES_CPP_NAMESPACE;

namespace {

// One decoding of a block: the characters, sizes and bytes eaten, or the failure's text.
struct Decoded {
    std::u16string chars;
    std::string sizes;
    std::size_t eaten = 0;
    std::string failure;
    bool operator==(const Decoded& o) const
    {
        return chars == o.chars && sizes == o.sizes && eaten == o.eaten && failure == o.failure;
    }
};

std::ostream& operator<<(std::ostream& out, const Decoded& d)
{
    return out << d.chars.size() << " chars, " << d.eaten << " bytes eaten, failure '" << d.failure << "'";
}

Decoded decode(XMLTranscoder& t, const std::string& bytes, std::size_t room)
{
    Decoded d;
    std::vector<XMLCh> to(room + 1);
    std::vector<unsigned char> sizes(room + 1);
    try {
        const XMLSize_t made = t.transcodeFrom(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(),
                                               to.data(), room, d.eaten, sizes.data());
        d.chars.assign(reinterpret_cast<const char16_t*>(to.data()), made);
        d.sizes.assign(sizes.begin(), sizes.begin() + static_cast<long>(made));
    } catch (const XMLException& e) {
        char* text = XMLString::transcode(e.getMessage());
        d.failure = text;
        XMLString::release(&text);
    }
    return d;
}

TEST(Utf8Transcoder, DecodesAsXercesDoes)
{
    const std::string ascii40(40, 'a');
    const struct {
        const char* label;
        std::string bytes;
        std::size_t room;  // characters the caller has room for
    } rows[] = {
        {"empty", "", 16},
        {"short ascii", "<a>b</a>", 64},
        {"ascii longer than a vector", ascii40 + "<x/>", 64},
        {"room ends inside the ascii", ascii40, 17},
        {"two-byte after ascii", ascii40 + "\xC3\xA9" + "z", 64},
        {"three-byte at a vector's edge", std::string(15, 'a') + "\xE2\x82\xAC" + ascii40, 80},
        {"four-byte: a surrogate pair", ascii40 + "\xF0\x9F\x98\x80" + "!", 64},
        {"sequence cut at the block's end", ascii40 + "\xE2\x82", 64},
        {"room ends before a pair", std::string(16, 'a') + "\xF0\x9F\x98\x80", 17},
        {"bad second byte after ascii", ascii40 + "\xE2" + "A" + "\xAC", 64},
        {"lone continuation byte", ascii40 + "\x80" + ascii40, 128},
        {"overlong two-byte", ascii40 + "\xC0\xAF", 64},
        {"byte never in UTF-8", ascii40 + "\xFF", 64},
        {"only non-ascii", "\xC3\xA9\xC3\xA9", 8},
    };
    XMLUTF8Transcoder xerces(XMLUni::fgUTF8EncodingString, 1024);
    VexIDOM_Utf8Transcoder ours(XMLUni::fgUTF8EncodingString, 1024, XMLPlatformUtils::fgMemoryManager);
    for (const auto& row : rows)
        EXPECT_EQ(decode(xerces, row.bytes, row.room), decode(ours, row.bytes, row.room)) << row.label;
}

TEST(Utf8Transcoder, IsWhatAUtf8DocumentIsReadWith)
{
    XMLTransService::Codes code;
    std::unique_ptr<XMLTranscoder> detected(
        XMLPlatformUtils::fgTransService->makeNewTranscoderFor(XMLRecognizer::UTF_8, code, 1024));
    EXPECT_NE(nullptr, dynamic_cast<VexIDOM_Utf8Transcoder*>(detected.get()));
    for (const char* name : {"UTF-8", "utf-8", "UTF8"}) {
        std::unique_ptr<XMLTranscoder> declared(XMLPlatformUtils::fgTransService->makeNewTranscoderFor(name, code, 1024));
        EXPECT_NE(nullptr, dynamic_cast<VexIDOM_Utf8Transcoder*>(declared.get())) << name;
    }
}

}  // namespace
