#include "platform/dom/VexIDOM_Xerces.h"

#include "platform/core/VexCore.h"
#include "platform/core/VexFileLocation.h"
#include "platform/dom/VexIDOM_DOMException.h"

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstring>

using namespace XERCES_CPP_NAMESPACE;

namespace {

int startXerces()
{
    try {
        XMLPlatformUtils::Initialize();
    } catch (const XMLException&) {
        return -1;
    }
    return 0;
}

void stopXerces()
{
    VexIDOM_Xerces::dropThreadParser();
    XMLPlatformUtils::Terminate();
}

const int registered = vexRegisterModule("VexIDOM", startXerces, stopXerces);

}  // namespace

void VexIDOM_Xerces::ensureRegistered() { (void)registered; }

void VexIDOM_Xerces::appendAscii(std::string& out, const XMLCh* text, std::size_t length)
{
    std::size_t at = out.size();
    out.resize(at + length);
    // Through a local pointer: a store through the string's own operator[]
    // makes the compiler reload its data pointer for every character.
    char* o = &out[at];
    for (std::size_t k = 0; k < length; ++k)
        o[k] = static_cast<char>(text[k]);
}

void VexIDOM_Xerces::appendUtf8(std::string& out, const XMLCh* text, std::size_t length)
{
    if (!text)
        return;
    std::size_t i = 0;
    while (i < length) {
        // ASCII run: copied straight.
        std::size_t start = i;
        while (i < length && text[i] < 0x80)
            ++i;
        if (i > start)
            appendAscii(out, text + start, i - start);
        if (i == length)
            break;
        // Non-ASCII run: through Xerces' UTF-8 transcoder. Lone surrogates,
        // which UTF-8 cannot carry, become U+FFFD first.
        start = i;
        while (i < length && text[i] >= 0x80)
            ++i;
        std::u16string run(reinterpret_cast<const char16_t*>(text + start), i - start);
        for (std::size_t k = 0; k < run.size(); ++k) {
            char16_t c = run[k];
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (k + 1 < run.size() && run[k + 1] >= 0xDC00 && run[k + 1] <= 0xDFFF)
                    ++k;
                else
                    run[k] = 0xFFFD;
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                run[k] = 0xFFFD;
            }
        }
        TranscodeToStr utf8(reinterpret_cast<const XMLCh*>(run.data()), run.size(), "UTF-8");
        out.append(reinterpret_cast<const char*>(utf8.str()), utf8.length());
    }
}

void VexIDOM_Xerces::appendUtf8(std::string& out, const XMLCh* text)
{
    if (text)
        appendUtf8(out, text, XMLString::stringLen(text));
}

I18NString VexIDOM_Xerces::toI18N(const XMLCh* text)
{
    std::string out;
    appendUtf8(out, text);
    return I18NString(std::move(out));
}

VexIDOM_Xerces::XStr::XStr(const char* utf8)
{
    if (!utf8)
        return;
    std::size_t n = std::strlen(utf8);
    bool ascii = true;
    for (std::size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(utf8[i]) < 0x80;
    if (ascii) {
        m_text = static_cast<XMLCh*>(XMLPlatformUtils::fgMemoryManager->allocate((n + 1) * sizeof(XMLCh)));
        for (std::size_t i = 0; i <= n; ++i)
            m_text[i] = static_cast<XMLCh>(static_cast<unsigned char>(utf8[i]));
        return;
    }
    try {
        TranscodeFromStr wide(reinterpret_cast<const XMLByte*>(utf8), n, "UTF-8");
        m_text = wide.adopt();
    } catch (const XMLException&) {
        VexIDOM_DOMException(VexIDOM_DOMException::INVALID_CHARACTER_ERR, "text is not UTF-8")
            .hurl(VEX_LOCATION, "VexIDOM_Xerces::XStr", "VEX_THROW");
    }
}

VexIDOM_Xerces::XStr::~XStr()
{
    if (m_text)
        XMLPlatformUtils::fgMemoryManager->deallocate(m_text);
}

void VexIDOM_Xerces::raise(const DOMException& e, const char* function)
{
    std::string text;
    appendUtf8(text, e.getMessage());
    VexIDOM_DOMException(static_cast<int>(e.code), text.c_str()).hurl(VEX_LOCATION, function, "VEX_THROW");
}
