#include "platform/dom/VexIDOM_Helper.h"

#include "platform/core/VexFileLocation.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMException.h"
#include "platform/dom/VexIDOM_Tree.h"
#include "platform/dom/VexIDOM_Xerces.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/dom/DOMProcessingInstruction.hpp>
#include <xercesc/dom/DOMText.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace XERCES_CPP_NAMESPACE;

namespace {

// The escape of each ASCII character in text or in an attribute value; null
// for a character written as it is. NUL has an entry so that scans stop there.
struct Escapes {
    const char* of[0x80] = {};
    explicit Escapes(bool attribute)
    {
        of[0] = "";
        of['&'] = "&amp;";
        of['<'] = "&lt;";
        of['>'] = "&gt;";
        of['\r'] = "&#13;";
        if (attribute) {
            of['"'] = "&quot;";
            of['\t'] = "&#9;";
            of['\n'] = "&#10;";
        }
    }
};

const Escapes& textEscapes()
{
    static const Escapes e(false);
    return e;
}

const Escapes& attributeEscapes()
{
    static const Escapes e(true);
    return e;
}

const std::size_t FLUSH_AT = 16 * 1024;
// A long text goes out in pieces of at most this many characters.
const std::size_t TEXT_PIECE = 4096;
// What a serialiser gives back to its thread's spare at most.
const std::size_t KEEP_OUT = 64 * 1024;
const std::size_t KEEP_DEPTH = 1024;

bool same(const XMLCh* a, const XMLCh* b)
{
    if (!a || !*a)
        return !b || !*b;
    return b && XMLString::equals(a, b);
}

// Serialises without recursion (a deep tree cannot exhaust the stack) and
// keeps the namespace bindings in scope to add missing declarations.
class Serializer {
public:
    explicit Serializer(DomWriter& w)
        : m_w(w),
          m_storage(VexThreadSpare<Storage>::take()),
          m_out(m_storage->out),
          m_open(m_storage->open),
          m_scope(m_storage->scope),
          m_marks(m_storage->marks)
    {
        if (m_out.capacity() < FLUSH_AT + 1024)
            m_out.reserve(FLUSH_AT + 1024);
    }

    ~Serializer()
    {
        // Emptied for the next serialiser of this thread, unless a very deep
        // tree grew the stacks: what a thread keeps stays small.
        if (m_out.capacity() > KEEP_OUT || m_open.capacity() > KEEP_DEPTH || m_scope.capacity() > KEEP_DEPTH ||
            m_marks.capacity() > KEEP_DEPTH)
            return;
        m_out.clear();
        m_open.clear();
        m_scope.clear();
        m_marks.clear();
        VexThreadSpare<Storage>::give(std::move(m_storage));
    }

    // Depth first, following only first-child and next-sibling links: Xerces
    // answers those from the node itself, while its previous-sibling, last-child
    // and parent links each cost a run-time type check. `open` holds the
    // elements (and other containers) whose end is still due.
    void run(DOMNode* root)
    {
        std::vector<DOMNode*>& open = m_open;
        DOMNode* n = root;
        for (;;) {
            bool container = start(n);
            DOMNode* child = container ? n->getFirstChild() : nullptr;
            if (child) {
                open.push_back(n);
                n = child;
            } else {
                if (container)
                    end(n);
                for (;;) {
                    if (n == root) {
                        flush();
                        return;
                    }
                    DOMNode* next = n->getNextSibling();
                    if (next) {
                        n = next;
                        break;
                    }
                    n = open.back();
                    open.pop_back();
                    end(n);
                }
            }
            if (m_out.size() >= FLUSH_AT)
                flush();
        }
    }

private:
    // Strings of the tree being written (they outlive the serialiser).
    struct Binding {
        const XMLCh* prefix;  // null or empty: the default namespace
        const XMLCh* uri;     // null or empty: no namespace
    };

    void flush()
    {
        if (!m_out.empty()) {
            m_w.writeChars(m_out.data(), static_cast<unsigned>(m_out.size()));
            m_out.clear();
        }
    }

    const XMLCh* lookup(const XMLCh* prefix) const
    {
        for (auto it = m_scope.rbegin(); it != m_scope.rend(); ++it)
            if (same(it->prefix, prefix))
                return it->uri;
        if (prefix && XMLString::equals(prefix, XMLUni::fgXMLString))
            return XMLUni::fgXMLURIName;
        return nullptr;
    }

    void bind(const XMLCh* prefix, const XMLCh* uri) { m_scope.push_back(Binding{prefix, uri}); }

    // An attribute's value. A value held in one text child is read from it:
    // asking the attribute costs Xerces a type check on the child.
    static const XMLCh* valueOf(DOMNode* a)
    {
        DOMNode* c = a->getFirstChild();
        if (c && c->getNodeType() == DOMNode::TEXT_NODE && !c->getNextSibling())
            return c->getNodeValue();
        return a->getNodeValue();
    }

    // Writes `t` escaped in one pass: runs of plain ASCII are narrowed
    // straight into the output, runs of other characters go through UTF-8.
    void text(const XMLCh* t, bool attribute)
    {
        if (t)
            text(t, XMLString::stringLen(t), attribute);
    }

    // `length` characters of `t`, escaped; a NUL ends the text.
    void text(const XMLCh* t, std::size_t length, bool attribute)
    {
        const Escapes& escapes = attribute ? attributeEscapes() : textEscapes();
        const XMLCh* p = t;
        const XMLCh* end = t + length;
        while (p < end) {
            // In pieces, flushed as they fill the buffer: a long text never
            // makes the buffer grow.
            if (m_out.size() >= FLUSH_AT)
                flush();
            std::size_t piece = std::min(static_cast<std::size_t>(end - p), TEXT_PIECE);
            std::size_t plain = VexIDOM_Xerces::appendPlain(m_out, p, piece);
            p += plain;
            if (p == end || plain == piece)
                continue;
            XMLCh c = *p;
            if (c >= 0x80) {
                const XMLCh* run = p;
                const XMLCh* stop = p + std::min(static_cast<std::size_t>(end - p), TEXT_PIECE);
                while (p < stop && *p >= 0x80)
                    ++p;
                // A surrogate pair stays whole.
                if (p == stop && p < end && p[-1] >= 0xD800 && p[-1] <= 0xDBFF && *p >= 0xDC00 && *p <= 0xDFFF)
                    ++p;
                VexIDOM_Xerces::appendUtf8(m_out, run, static_cast<std::size_t>(p - run));
                continue;
            }
            if (c == 0)
                return;
            // An escape, or a character plain in this context only (a quote
            // in text, a tab or line feed in text, other control characters).
            if (escapes.of[c])
                m_out += escapes.of[c];
            else
                m_out += static_cast<char>(c);
            ++p;
        }
    }

    void raw(const XMLCh* t) { VexIDOM_Xerces::appendUtf8(m_out, t); }

    void declare(const XMLCh* prefix, const XMLCh* uri)
    {
        m_out += " xmlns";
        if (prefix && *prefix) {
            m_out += ':';
            raw(prefix);
        }
        m_out += "=\"";
        text(uri, true);
        m_out += '"';
        bind(prefix, uri);
    }

    static bool isXmlns(DOMNode* a)
    {
        if (same(a->getNamespaceURI(), XMLUni::fgXMLNSURIName))
            return true;
        const XMLCh* name = a->getNodeName();
        return XMLString::startsWith(name, XMLUni::fgXMLNSString) &&
               (name[5] == 0 || name[5] == ':');
    }

    // Writes the start of `n`; true when its children follow.
    bool start(DOMNode* n)
    {
        switch (n->getNodeType()) {
        case DOMNode::DOCUMENT_NODE:
            m_out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
            flush();
            m_w.writeNewLine();
            return true;
        case DOMNode::DOCUMENT_FRAGMENT_NODE:
        case DOMNode::ENTITY_REFERENCE_NODE:
            return true;
        case DOMNode::ELEMENT_NODE:
            startElement(static_cast<DOMElement*>(n));
            if (!n->hasChildNodes()) {
                m_out += "/>";
                m_scope.resize(m_marks.back());
                m_marks.pop_back();
                return false;
            }
            m_out += '>';
            return true;
        case DOMNode::TEXT_NODE: {
            const XMLCh* v = n->getNodeValue();
            if (v)
                text(v, static_cast<DOMText*>(n)->getLength(), false);
            return false;
        }
        case DOMNode::CDATA_SECTION_NODE: {
            m_out += "<![CDATA[";
            const XMLCh* v = n->getNodeValue();
            std::u16string s = v ? std::u16string(reinterpret_cast<const char16_t*>(v)) : std::u16string();
            std::size_t at = 0, hit;
            while ((hit = s.find(u"]]>", at)) != std::u16string::npos) {
                VexIDOM_Xerces::appendUtf8(m_out, reinterpret_cast<const XMLCh*>(s.data() + at), hit + 2 - at);
                m_out += "]]><![CDATA[";
                at = hit + 2;
            }
            VexIDOM_Xerces::appendUtf8(m_out, reinterpret_cast<const XMLCh*>(s.data() + at), s.size() - at);
            m_out += "]]>";
            return false;
        }
        case DOMNode::COMMENT_NODE:
            m_out += "<!--";
            raw(n->getNodeValue());
            m_out += "-->";
            return false;
        case DOMNode::PROCESSING_INSTRUCTION_NODE: {
            auto* pi = static_cast<DOMProcessingInstruction*>(n);
            m_out += "<?";
            raw(pi->getTarget());
            const XMLCh* data = pi->getData();
            if (data && *data) {
                m_out += ' ';
                raw(data);
            }
            m_out += "?>";
            return false;
        }
        case DOMNode::ATTRIBUTE_NODE:
            text(valueOf(n), true);
            return false;
        default:  // document type, entity, notation: not written
            return false;
        }
    }

    void startElement(DOMElement* e)
    {
        m_marks.push_back(m_scope.size());
        m_out += '<';
        raw(e->getNodeName());
        DOMNamedNodeMap* attrs = e->getAttributes();
        XMLSize_t count = attrs ? attrs->getLength() : 0;
        // The element's own declarations are in scope for itself.
        for (XMLSize_t i = 0; i < count; ++i) {
            DOMNode* a = attrs->item(i);
            if (!isXmlns(a))
                continue;
            const XMLCh* name = a->getNodeName();
            bind(name[5] == ':' ? name + 6 : nullptr, valueOf(a));
        }
        for (XMLSize_t i = 0; i < count; ++i) {
            DOMNode* a = attrs->item(i);
            m_out += ' ';
            raw(a->getNodeName());
            m_out += "=\"";
            text(valueOf(a), true);
            m_out += '"';
        }
        // Declarations the tree lacks: for the element's name ...
        const XMLCh* uri = e->getNamespaceURI();
        const XMLCh* prefix = e->getPrefix();
        if (uri && *uri) {
            if (!same(lookup(prefix), uri))
                declare(prefix, uri);
        } else if (!(prefix && *prefix) && !same(lookup(nullptr), nullptr)) {
            // An element in no namespace must not inherit a default one.
            declare(nullptr, XMLUni::fgZeroLenString);
        }
        // ... and for its attributes.
        for (XMLSize_t i = 0; i < count; ++i) {
            DOMNode* a = attrs->item(i);
            if (isXmlns(a))
                continue;
            const XMLCh* auri = a->getNamespaceURI();
            const XMLCh* apre = a->getPrefix();
            if (auri && *auri && apre && *apre && !same(lookup(apre), auri))
                declare(apre, auri);
        }
    }

    void end(DOMNode* n)
    {
        if (n->getNodeType() != DOMNode::ELEMENT_NODE)
            return;
        m_out += "</";
        raw(n->getNodeName());
        m_out += '>';
        m_scope.resize(m_marks.back());
        m_marks.pop_back();
    }

    // The output buffer and the stacks, taken from the thread's spare.
    struct Storage {
        std::string out;
        std::vector<DOMNode*> open;  // containers whose end is still due
        std::vector<Binding> scope;
        std::vector<std::size_t> marks;
    };

    DomWriter& m_w;
    std::unique_ptr<Storage> m_storage;
    std::string& m_out;
    std::vector<DOMNode*>& m_open;
    std::vector<Binding>& m_scope;
    std::vector<std::size_t>& m_marks;
};

}  // namespace

void VexIDOM_Helper::write(const VexIDOM_Node& node, DomWriter& writer)
{
    if (node.isNull())
        return;
    Serializer(writer).run(node.getXercesNode());
}

VexIDOM_Node VexIDOM_Helper::appendChild(VexIDOM_Node& parent, const VexIDOM_Node& child)
{
    DOMNode* p = parent.getXercesNode();
    DOMNode* c = child.getXercesNode();
    if (!p || !c)
        VexIDOM_DOMException(VexIDOM_DOMException::NOT_FOUND_ERR, "null node")
            .hurl(VEX_LOCATION, "VexIDOM_Helper::appendChild", "VEX_THROW");
    try {
        DOMDocument* target = p->getNodeType() == DOMNode::DOCUMENT_NODE ? static_cast<DOMDocument*>(p)
                                                                          : p->getOwnerDocument();
        if (c->getOwnerDocument() != target)
            c = VexIDOM_Tree::import(target, c);
        return VexIDOM_Node(p->appendChild(c));
    } catch (const DOMException& e) {
        VexIDOM_Xerces::raise(e, "VexIDOM_Helper::appendChild");
    }
}

VexIDOM_Element VexIDOM_Helper::findFirstElement(const VexIDOM_Node& root, const char* name)
{
    DOMNode* r = root.getXercesNode();
    if (!r || !name)
        return VexIDOM_Element();
    VexIDOM_Xerces::XStr want(name);
    // Document order without recursion.
    DOMNode* n = r;
    while (n) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE &&
            (XMLString::equals(n->getNodeName(), want) || same(n->getLocalName(), want)))
            return VexIDOM_Element(VexIDOM_Node(n));
        if (n->getFirstChild()) {
            n = n->getFirstChild();
            continue;
        }
        while (n && n != r && !n->getNextSibling())
            n = n->getParentNode();
        if (!n || n == r)
            break;
        n = n->getNextSibling();
    }
    return VexIDOM_Element();
}

I18NString VexIDOM_Helper::getElementText(const VexIDOM_Element& element)
{
    if (element.isNull())
        return I18NString();
    return VexIDOM_Tree::text(element.getXercesNode());
}
