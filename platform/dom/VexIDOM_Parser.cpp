#include "platform/dom/VexIDOM_Parser.h"

#include "platform/core/VexThreadSpare.h"
#include "platform/dom/VexIDOM_BlockPool.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_NameSet.h"
#include "platform/dom/VexIDOM_Prescan.h"
#include "platform/dom/VexIDOM_Xerces.h"
#include "platform/streams/QioInputStream.h"

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMDocumentFragment.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/impl/DOMDocumentImpl.hpp>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDGrammar.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace XERCES_CPP_NAMESPACE;

namespace {

// Thrown from a callback or the input to end a parse that went past a limit.
struct LimitReached {};

// Xerces reads the document through this: straight from the toolkit stream,
// through the pre-scan.
class StreamBinInput : public BinInputStream {
public:
    StreamBinInput(QioInputStream& in, std::size_t& fed, VexIDOM_Prescan& scan) : m_in(in), m_fed(fed), m_scan(scan) {}
    XMLFilePos curPos() const override { return m_pos; }
    XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override
    {
        if (m_ended || maxToRead == 0)
            return 0;
        unsigned want = maxToRead > 0x10000 ? 0x10000u : static_cast<unsigned>(maxToRead);
        unsigned got = m_in.read(reinterpret_cast<char*>(toFill), want);
        if (got == QioInputStream::END) {
            m_ended = true;
            return 0;
        }
        m_pos += got;
        m_fed += got;
        if (!m_scan.feed(toFill, got))
            throw LimitReached();
        return got;
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    QioInputStream& m_in;
    std::size_t& m_fed;
    VexIDOM_Prescan& m_scan;
    XMLFilePos m_pos = 0;
    bool m_ended = false;
};

class StreamSource : public InputSource {
public:
    // The stream is made in `pool`, the parser's: the reader that takes it
    // frees it there.
    StreamSource(QioInputStream& in, std::size_t& fed, VexIDOM_Prescan& scan, MemoryManager* pool)
        : InputSource(pool), m_in(in), m_fed(fed), m_scan(scan) {}
    BinInputStream* makeStream() const override { return new (getMemoryManager()) StreamBinInput(m_in, m_fed, m_scan); }

private:
    QioInputStream& m_in;
    std::size_t& m_fed;
    VexIDOM_Prescan& m_scan;
};

// Xerces reports errors to the parser's error() only while a handler is set;
// error() below keeps them, so the handler itself is never called.
class QuietHandler : public ErrorHandler {
public:
    void warning(const SAXParseException&) override {}
    void error(const SAXParseException&) override {}
    void fatalError(const SAXParseException&) override {}
    void resetErrors() override {}
};

// Made before the Xerces parser and gone after it: the parser allocates from it.
struct ParserPool {
    VexIDOM_BlockPool m_pool;
};

bool isXmlns(const XMLCh* name)
{
    return XMLString::startsWith(name, XMLUni::fgXMLNSString) && (name[5] == 0 || name[5] == chColon);
}

}  // namespace

// The Xerces parser with the safe settings, noting the first error it reports.
// All that Xerces allocates for a parse comes from the parser's own pool, but
// for the document it builds when not hosted, which outlives the parse.
class VexIDOM_Parser::Impl : private ParserPool, public XercesDOMParser {
public:
    Impl() : XercesDOMParser(nullptr, &m_pool)
    {
        setDoNamespaces(true);
        setValidationScheme(Val_Never);
        setDoSchema(false);
        setLoadExternalDTD(false);
        setLoadSchema(false);
        setSkipDTDValidation(true);
        setDisableDefaultEntityResolution(true);
        setCreateEntityReferenceNodes(false);
        setExitOnFirstFatalError(true);
        m_security.setEntityExpansionLimit(ENTITY_EXPANSION_LIMIT);
        setSecurityManager(&m_security);
        getScanner()->setDisallowDTD(true);
        setErrorHandler(&m_quiet);
        // The scanner makes a DTD grammar for every document (about twenty
        // allocations) unless one is cached. With DTDs refused it never holds
        // a declaration, so the parser's own pool keeps the one made first;
        // a failed parse empties the pool.
        cacheGrammarFromParse(true);
        useCachedGrammarInParse(true);
    }

    MemoryManager* pool() { return &m_pool; }

    void error(const unsigned int code, const XMLCh* const, const XMLErrorReporter::ErrTypes type,
               const XMLCh* const text, const XMLCh* const, const XMLCh* const, const XMLFileLoc line,
               const XMLFileLoc column) override
    {
        if (type == XMLErrorReporter::ErrType_Warning)
            return;
        if (!m_failed) {
            m_failed = true;
            m_code = code ? static_cast<int>(code) : -1;
            m_line = static_cast<int>(line);
            m_column = static_cast<int>(column);
            m_text = VexIDOM_Xerces::toI18N(text);
        }
    }

    // Whether the cached DTD grammar holds no element or entity declaration.
    bool grammarEmpty()
    {
        Grammar* g = getGrammar(XMLUni::fgDTDEntityString);
        if (!g || g->getGrammarType() != Grammar::DTDGrammarType)
            return g == nullptr;
        const DTDGrammar* dtd = static_cast<const DTDGrammar*>(g);
        return !dtd->getElemEnumerator().hasMoreElements() && !dtd->getEntityEnumerator().hasMoreElements();
    }

    void resetErrors() override
    {
        m_failed = false;
        m_code = 0;
        m_line = 0;
        m_column = 0;
        m_text.clear();
    }

    // The next parse builds its nodes in `host` under `under` (a fragment of
    // `host`) instead of in a document of its own: the tree is made once, in
    // the document where it will stay. The host's XML declaration, URI and
    // encoding are left alone.
    void host(DOMDocumentImpl* host, DOMNode* under)
    {
        m_host = host;
        m_under = under;
    }

    // Ends hosting, also after a parse that stopped half-way: the host's error
    // checking is as before and the parser forgets the host, so that its
    // reset never releases a document it does not own.
    void unhost()
    {
        if (!m_host)
            return;
        if (m_checkingSaved)
            m_host->setErrorChecking(m_checking);
        m_checkingSaved = false;
        if (fDocument == m_host)
            fDocument = nullptr;
        fCurrentParent = fCurrentNode = nullptr;
        m_host = nullptr;
        m_under = nullptr;
    }

    // The limits are checked as the scanner reports each piece, before its
    // node is made: an element's start tag has been read, nothing below it.
    void startElement(const XMLElementDecl& decl, const unsigned int urlId, const XMLCh* const prefix,
                      const RefVectorOf<XMLAttr>& attrs, const XMLSize_t count, const bool isEmpty,
                      const bool isRoot) override
    {
        if (m_open.size() >= m_limits.depth)
            refuse(TOO_DEEP, "elements are nested deeper than the limit of ", m_limits.depth);
        if (count > m_limits.attributes)
            refuse(TOO_MANY_ATTRIBUTES, "an element has more attributes than the limit of ", m_limits.attributes);
        // What Xerces' work on the element is, in units of about half a
        // microsecond: an element 2 (and 1 more per 64 levels of depth), an
        // attribute 1 (and 1 more per 32 attributes before it on the element)
        // and a namespace declaration 4 more.
        std::size_t units = 2 + m_open.size() / 64;
        addName(decl.getFullName());
        unsigned declared = 0;
        for (XMLSize_t i = 0; i < count; ++i) {
            const XMLAttr* a = attrs.elementAt(i);
            addName(a->getQName());
            units += 1 + i / 32;
            if (isXmlns(a->getQName())) {
                ++declared;
                units += 4;
                addName(a->getValue());
            }
        }
        addCost(units);
        if (m_inScope + declared > m_limits.namespaces)
            refuse(TOO_MANY_NAMESPACES, "more namespace declarations are in scope than the limit of ",
                   m_limits.namespaces);
        XercesDOMParser::startElement(decl, urlId, prefix, attrs, count, isEmpty, isRoot);
        m_inText = false;
        if (!isEmpty) {
            m_open.push_back(declared);
            m_inScope += declared;
        }
    }

    void endElement(const XMLElementDecl& decl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const prefix) override
    {
        if (!m_open.empty()) {
            m_inScope -= m_open.back();
            m_open.pop_back();
        }
        m_inText = false;
        XercesDOMParser::endElement(decl, urlId, isRoot, prefix);
    }

    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdata) override
    {
        // Text that follows text joins its node; a CDATA section is a node of its own.
        if (cdata || !m_inText)
            addCost(1);
        m_inText = !cdata;
        XercesDOMParser::docCharacters(chars, length, cdata);
    }

    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdata) override
    {
        if (cdata || !m_inText)
            addCost(1);
        m_inText = !cdata;
        XercesDOMParser::ignorableWhitespace(chars, length, cdata);
    }

    void docComment(const XMLCh* const text) override
    {
        addCost(1);
        m_inText = false;
        XercesDOMParser::docComment(text);
    }

    void docPI(const XMLCh* const target, const XMLCh* const data) override
    {
        addCost(1);
        m_inText = false;
        XercesDOMParser::docPI(target, data);
    }

    void addCost(std::size_t units)
    {
        m_cost += units;
        if (m_cost > m_limits.cost)
            refuse(TOO_COSTLY, "building the document costs more than the limit of ", m_limits.cost, " units");
    }

    // Element and attribute names and namespace names: Xerces keeps each
    // distinct one in tables whose look-up slows down with their number.
    void addName(const XMLCh* name)
    {
        if (!name)
            return;
        if (!m_names.add(reinterpret_cast<const char16_t*>(name), m_limits.names))
            refuse(TOO_MANY_NAMES, "the document uses more distinct names than the limit of ", m_limits.names);
    }

    [[noreturn]] void refuse(int code, const char* what, std::size_t limit, const char* unit = "")
    {
        const Locator* at = getScanner()->getLocator();
        refused(code, what + std::to_string(limit) + unit, static_cast<int>(at->getLineNumber()),
                static_cast<int>(at->getColumnNumber()));
        throw LimitReached();
    }

    void refused(int code, const std::string& text, int line, int column)
    {
        if (!m_failed) {
            fail(code, I18NString(text));
            m_line = line;
            m_column = column;
        }
    }

    // Before each parse: nothing counted.
    void begin()
    {
        m_open.clear();
        m_inScope = 0;
        m_cost = 0;
        m_inText = false;
        m_nameChars += m_names.chars();
        m_names.clear();
        m_scan.reset(m_limits.attributes);
        m_fedBefore = m_fed;
    }

    void startDocument() override
    {
        if (!m_host) {
            // The document goes to the caller: Xerces' own memory, not the pool.
            MemoryManager* pool = fMemoryManager;
            fMemoryManager = XMLPlatformUtils::fgMemoryManager;
            try {
                XercesDOMParser::startDocument();
            } catch (...) {
                fMemoryManager = pool;
                throw;
            }
            fMemoryManager = pool;
            return;
        }
        fDocument = m_host;
        fCurrentParent = m_under;
        fCurrentNode = m_under;
        // Nodes come from the scanner already checked.
        m_checking = m_host->getErrorChecking();
        m_checkingSaved = true;
        m_host->setErrorChecking(false);
    }

    void endDocument() override
    {
        if (!m_host) {
            XercesDOMParser::endDocument();
            return;
        }
        m_host->setErrorChecking(m_checking);
        m_checkingSaved = false;
    }

    void XMLDecl(const XMLCh* const version, const XMLCh* const encoding, const XMLCh* const standalone,
                 const XMLCh* const actualEncoding) override
    {
        if (!m_host)
            XercesDOMParser::XMLDecl(version, encoding, standalone, actualEncoding);
    }

    void fail(int code, const I18NString& text)
    {
        if (!m_failed) {
            m_failed = true;
            m_code = code ? code : -1;
            m_text = text;
        }
    }

    SecurityManager m_security;
    QuietHandler m_quiet;
    DOMDocumentImpl* m_host = nullptr;
    DOMNode* m_under = nullptr;
    bool m_checking = true;
    bool m_checkingSaved = false;
    unsigned m_generation = 0;
    // What the parse under way has built, against its limits.
    Limits m_limits;
    std::vector<unsigned> m_open;  // per open element: the namespaces it declares
    std::size_t m_inScope = 0;     // namespace declarations of the open elements
    std::size_t m_cost = 0;
    VexIDOM_Prescan m_scan;
    bool m_inText = false;
    VexIDOM_NameSet m_names;
    // Xerces keeps every element, attribute and namespace name it meets in
    // pools of the scanner that a reset does not empty: the characters of
    // the distinct names of the parses before the last one.
    std::size_t m_nameChars = 0;
    // What this parser has read.
    std::size_t m_fed = 0;
    std::size_t m_fedBefore = 0;  // m_fed when the last parse began
    unsigned m_parses = 0;
    bool m_failed = false;
    int m_code = 0;
    int m_line = 0;
    int m_column = 0;
    I18NString m_text;
};

namespace {

// Building a Xerces parser (scanner, validator, string pools, buffers) costs
// more than parsing an envelope, so each thread keeps one between
// VexIDOM_Parser objects. A parser object takes the thread's spare one (or
// builds one when it is in use or missing) and gives it back when it goes.
// Parsers built before Xerces was last stopped are never used again.
std::atomic<unsigned> xercesGeneration{1};

// A kept parser is replaced once the distinct names of its parses add up to
// KEEP_NAME_CHARS characters, or after KEEP_PARSES parses: its name pools
// then hold at most about that much. It is also replaced after a parse of
// more than KEEP_AFTER bytes: the scanner's buffers grow with the longest
// text, name or attribute value they met (to about four times its bytes in
// text, eight in a name or value) and do not shrink, so a thread holds at
// most about half a megabyte of them for text and one for values; an envelope
// of 64 KiB and a little more keeps its parser. Its block pool keeps at most
// 64 KiB of small blocks and 256 KiB of large ones (the reader among them).
const std::size_t KEEP_NAME_CHARS = 256u << 10;
const unsigned KEEP_PARSES = 1000;
const std::size_t KEEP_AFTER = 128u << 10;

// Frees a kept parser, unless it is older than the last stop of Xerces (its
// memory went with Xerces).
struct KeptParserDelete {
    void operator()(VexIDOM_Parser::Impl* impl) const;
};

using KeptParser = std::unique_ptr<VexIDOM_Parser::Impl, KeptParserDelete>;
using Spare = VexThreadSlot<KeptParser>;

}  // namespace

void KeptParserDelete::operator()(VexIDOM_Parser::Impl* impl) const
{
    if (impl->m_generation == xercesGeneration.load())
        delete impl;
}

void VexIDOM_Xerces::dropThreadParser()
{
    Spare::drop();
    xercesGeneration.fetch_add(1);
}

VexIDOM_Parser::VexIDOM_Parser(int /*options*/)
{
    VexIDOM_Xerces::ensureRegistered();
    unsigned generation = xercesGeneration.load();
    m_impl = Spare::takeIf([generation](const KeptParser& kept) { return kept->m_generation == generation; }).release();
    if (!m_impl) {
        Spare::drop();  // one from before the last stop of Xerces
        m_impl = new Impl();
        m_impl->m_generation = generation;
    }
}

VexIDOM_Parser::~VexIDOM_Parser()
{
    // Nothing of this parse stays in the parser: no document, no error.
    m_impl->unhost();
    m_impl->resetDocumentPool();
    m_impl->resetErrors();
    if (m_impl->m_generation == xercesGeneration.load() &&
        m_impl->m_nameChars + m_impl->m_names.chars() < KEEP_NAME_CHARS &&
        m_impl->m_parses < KEEP_PARSES && m_impl->m_fed - m_impl->m_fedBefore <= KEEP_AFTER)
        Spare::give(KeptParser(m_impl));  // freed when the thread keeps one already
    else
        delete m_impl;
    m_impl = nullptr;
}

void VexIDOM_Parser::reset()
{
    m_impl->resetErrors();
    m_line = m_column = m_code = 0;
    m_text.clear();
}

int VexIDOM_Parser::parseSource(const void* source)
{
    const InputSource& src = *static_cast<const InputSource*>(source);
    try {
        m_impl->parse(src);
    } catch (const XMLException& e) {
        m_impl->fail(static_cast<int>(e.getCode()), VexIDOM_Xerces::toI18N(e.getMessage()));
    } catch (const DOMException& e) {
        m_impl->fail(static_cast<int>(e.code), VexIDOM_Xerces::toI18N(e.getMessage()));
    } catch (const LimitReached&) {
        // From the pre-scan, unless a callback noted the failure first.
        m_impl->refused(TOO_MANY_ATTRIBUTES,
                        "an element has more attributes than the limit of " +
                            std::to_string(m_impl->m_limits.attributes),
                        m_impl->m_scan.line(), m_impl->m_scan.column());
    }
    if (!m_impl->m_failed && m_impl->getErrorCount() != 0)
        m_impl->fail(-1, I18NString("the document is not well-formed"));
    // A refused document stops at its DOCTYPE, so the cached grammar stays
    // empty; should one ever hold a declaration, it is dropped before the
    // next parse can see it.
    if (m_impl->m_failed && !m_impl->grammarEmpty())
        m_impl->resetCachedGrammarPool();
    m_code = m_impl->m_code;
    m_line = m_impl->m_line;
    m_column = m_impl->m_column;
    m_text = m_impl->m_text;
    return m_impl->m_failed ? m_code : 0;
}

int VexIDOM_Parser::parse(QioInputStream& in, VexIDOM_Document& doc)
{
    StreamSource source(in, m_impl->m_fed, m_impl->m_scan, m_impl->pool());
    return parseInto(&source, doc);
}

int VexIDOM_Parser::parseInto(const void* source, VexIDOM_Document& doc)
{
    reset();
    m_impl->begin();
    ++m_impl->m_parses;
    // A hosted document gets its nodes straight in the host's document, in a
    // new fragment that replaces its children only when the parse succeeds.
    DOMDocumentImpl* host = doc.isHosted() ? dynamic_cast<DOMDocumentImpl*>(doc.getXercesDocument()) : nullptr;
    DOMDocumentFragment* fragment = host ? host->createDocumentFragment() : nullptr;
    if (fragment)
        m_impl->host(host, fragment);
    int rc;
    try {
        rc = parseSource(source);
    } catch (...) {
        m_impl->unhost();
        m_impl->resetDocumentPool();
        throw;
    }
    m_impl->unhost();
    // The fragment of a failed parse is left to the host's memory pool, not
    // released: releasing costs Xerces as much as building did, and the pool
    // keeps the memory until the host's document goes either way.
    if (fragment) {
        if (rc == 0)
            doc.adoptChildren(fragment);
    } else if (rc == 0) {
        doc.adopt(m_impl->adoptDocument());
    }
    m_impl->resetDocumentPool();
    return rc;
}

int VexIDOM_Parser::parse(const char* path, VexIDOM_Document& doc)
{
    reset();
    if (!path)
        return 0;
    int rc;
    try {
        // What a file holds is not counted: the parser is not kept after it.
        m_impl->m_parses = KEEP_PARSES;
        VexIDOM_Xerces::XStr p(path);
        LocalFileInputSource source(p);
        rc = parseInto(&source, doc);
    } catch (const XMLException& e) {
        m_impl->fail(static_cast<int>(e.getCode()), VexIDOM_Xerces::toI18N(e.getMessage()));
        m_code = m_impl->m_code;
        m_text = m_impl->m_text;
        rc = m_code;
    }
    return rc == 0 ? 1 : 0;
}
