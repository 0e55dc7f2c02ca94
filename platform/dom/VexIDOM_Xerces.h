#ifndef VEX_IDOM_XERCES_H
#define VEX_IDOM_XERCES_H

// The DOM layer's seam to Xerces-C (internal, not exported): process set-up
// and text conversion. Text crosses the layer as UTF-8, converted by Xerces'
// UTF-8 transcoder (never through the locale's code page); plain ASCII, the
// common case for names and envelopes, is copied without a transcoder.
//
// Xerces is initialised and terminated with the core's process functions:
// this unit registers a core module whose start and stop call
// XMLPlatformUtils::Initialize and Terminate (Xerces counts the pairs itself).

#include "platform/core/I18NString.h"

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <memory>
#include <string>

XERCES_CPP_NAMESPACE_BEGIN
class DOMException;
XERCES_CPP_NAMESPACE_END

class VexIDOM_Xerces {
public:
    // Makes sure the module is registered (the registration object lives in
    // this unit; referencing it keeps it linked into static test programs).
    static void ensureRegistered();

    // Deletes the calling thread's spare parser and retires those of other
    // threads; called before Xerces stops (VexIDOM_Parser.cpp).
    static void dropThreadParser();

    // Appends the UTF-8 form of `length` UTF-16 units (a lone surrogate
    // becomes U+FFFD).
    static void appendUtf8(std::string& out, const XMLCh* text, std::size_t length);
    // Appends the leading characters of text[0, length) that stand in XML as
    // they are: printable ASCII (0x20 to 0x7E) other than '&', '<', '>' and
    // '"'. Returns how many; eight are checked and narrowed at a time.
    static std::size_t appendPlain(std::string& out, const XMLCh* text, std::size_t length);
    static void appendUtf8(std::string& out, const XMLCh* text);
    // Widens the leading ASCII bytes of text[0, n) into `to`, sixteen at a
    // time; returns how many (n when all of it is ASCII). Writes no zero.
    static std::size_t widenAscii(XMLCh* to, const XMLByte* text, std::size_t n);
    static I18NString toI18N(const XMLCh* text);

    // UTF-8 in, a Xerces string out, released with the object.
    class XStr {
    public:
        explicit XStr(const char* utf8);
        explicit XStr(const I18NString& utf8) : XStr(utf8.c_str()) {}
        ~XStr();
        XStr(const XStr&) = delete;
        XStr& operator=(const XStr&) = delete;
        // Null when the text given was null.
        const XMLCh* get() const { return m_text; }
        operator const XMLCh*() const { return m_text; }  // NOLINT: used in calls into Xerces

        // A long ASCII text is widened into the thread's kept buffer (one per
        // thread, up to KEPT_CHARS), so a large text node costs no allocation.
        struct Wide {
            std::unique_ptr<XMLCh[]> chars;
            std::size_t capacity = 0;
            explicit operator bool() const { return static_cast<bool>(chars); }
        };
        static const std::size_t KEPT_CHARS = 1 << 20;

    private:
        void keepWide();  // gives m_wide to the thread (or frees it); m_wide is empty after

        XMLCh* m_text = nullptr;
        Wide m_wide;  // holds m_text when it was widened into a buffer of its own
        // A short ASCII text (names, most values) is widened here, not on the heap.
        XMLCh m_small[64];
    };

    // Raises the Xerces DOM exception as a VexIDOM_DOMException with the
    // same code, naming `function` in its back trace.
    [[noreturn]] static void raise(const XERCES_CPP_NAMESPACE::DOMException& e, const char* function);
};

#endif
