#include "platform/dom/VexIDOM_Parser.h"

#include "platform/dom/VexIDOM_Document.h"
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
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include <atomic>
#include <string>

using namespace XERCES_CPP_NAMESPACE;

namespace {

// Xerces reads the document through this: straight from the toolkit stream.
class StreamBinInput : public BinInputStream {
public:
    StreamBinInput(QioInputStream& in, std::size_t& fed) : m_in(in), m_fed(fed) {}
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
        return got;
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    QioInputStream& m_in;
    std::size_t& m_fed;
    XMLFilePos m_pos = 0;
    bool m_ended = false;
};

class StreamSource : public InputSource {
public:
    StreamSource(QioInputStream& in, std::size_t& fed) : m_in(in), m_fed(fed) {}
    BinInputStream* makeStream() const override { return new StreamBinInput(m_in, m_fed); }

private:
    QioInputStream& m_in;
    std::size_t& m_fed;
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

}  // namespace

// The Xerces parser with the safe settings, noting the first error it reports.
class VexIDOM_Parser::Impl : public XercesDOMParser {
public:
    Impl()
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
    }

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

    void startDocument() override
    {
        if (!m_host) {
            XercesDOMParser::startDocument();
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
    // What this parser has read: Xerces keeps every element, attribute and
    // namespace name it meets in pools of the scanner that a reset does not
    // empty, so a parser is kept only for a bounded amount of text.
    std::size_t m_fed = 0;
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

// A kept parser is replaced after this much text or this many parses (its
// name pools then hold at most about that much).
const std::size_t KEEP_BYTES = 1u << 20;
const unsigned KEEP_PARSES = 1000;

struct SpareParser {
    VexIDOM_Parser::Impl* impl = nullptr;
    ~SpareParser();
};

thread_local SpareParser spare;

}  // namespace

SpareParser::~SpareParser()
{
    // At the thread's end; a parser older than the last stop of Xerces is
    // left alone (its memory went with Xerces).
    if (impl && impl->m_generation == xercesGeneration.load())
        delete impl;
    impl = nullptr;
}

void VexIDOM_Xerces::dropThreadParser()
{
    delete spare.impl;
    spare.impl = nullptr;
    xercesGeneration.fetch_add(1);
}

VexIDOM_Parser::VexIDOM_Parser(int /*options*/)
{
    VexIDOM_Xerces::ensureRegistered();
    unsigned generation = xercesGeneration.load();
    if (spare.impl && spare.impl->m_generation == generation) {
        m_impl = spare.impl;
        spare.impl = nullptr;
    } else {
        spare.impl = nullptr;
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
    if (!spare.impl && m_impl->m_generation == xercesGeneration.load() && m_impl->m_fed < KEEP_BYTES &&
        m_impl->m_parses < KEEP_PARSES)
        spare.impl = m_impl;
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
    }
    if (!m_impl->m_failed && m_impl->getErrorCount() != 0)
        m_impl->fail(-1, I18NString("the document is not well-formed"));
    m_code = m_impl->m_code;
    m_line = m_impl->m_line;
    m_column = m_impl->m_column;
    m_text = m_impl->m_text;
    return m_impl->m_failed ? m_code : 0;
}

int VexIDOM_Parser::parse(QioInputStream& in, VexIDOM_Document& doc)
{
    StreamSource source(in, m_impl->m_fed);
    return parseInto(&source, doc);
}

int VexIDOM_Parser::parseInto(const void* source, VexIDOM_Document& doc)
{
    reset();
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
        if (fragment)
            fragment->release();
        throw;
    }
    m_impl->unhost();
    if (fragment) {
        if (rc == 0)
            doc.adoptChildren(fragment);
        else
            fragment->release();
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
