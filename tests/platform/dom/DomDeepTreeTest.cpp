// Whole-tree walks of the DOM layer on a tree 200,000 levels deep, built by
// code (Xerces' own recursive walks overflow the stack on it): text, equality,
// writing, deep import and the release of a hosted document's fragment.
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const int DEPTH = 200000;

// <a><a>...<a>leaf</a>...</a></a>, built from the leaf up (each append then
// has a parent without ancestors) and returned unattached.
VexIDOM_Node chain(VexIDOM_Document& doc, const char* leaf)
{
    VexIDOM_Node n = doc.createTextNode(leaf);
    for (int i = 0; i < DEPTH; ++i) {
        VexIDOM_Node e = doc.createElement("a");
        e.appendChild(n);
        n = e;
    }
    return n;
}

std::unique_ptr<VexIDOM_Document> document()
{
    return std::unique_ptr<VexIDOM_Document>(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "r"));
}

struct CountingWriter : DomWriter {
    void writeChars(const char* data, unsigned length) override { text.append(data, length); }
    std::string text;
};

}  // namespace

TEST(DomDeepTree, WalksOfEveryKindCostNoStack)
{
    auto one = document();
    auto two = document();
    VexIDOM_Element r1 = one->getDocumentElement();
    VexIDOM_Element r2 = two->getDocumentElement();
    r1.appendChild(chain(*one, "x"));
    r2.appendChild(chain(*two, "x"));

    EXPECT_EQ("x", VexIDOM_Helper::getElementText(r1).str());
    EXPECT_EQ("x", r1.getTextContent().str());
    EXPECT_TRUE(r1.isEqualNode(r2));

    CountingWriter w;
    VexIDOM_Helper::write(r1, w);
    EXPECT_EQ(std::size_t(7) * DEPTH + 8, w.text.size());
    EXPECT_EQ("<r><a><a>", w.text.substr(0, 9));
    EXPECT_EQ("<a>x</a></a>", w.text.substr(3 * DEPTH, 12));
    EXPECT_EQ("</a></r>", w.text.substr(w.text.size() - 8));

    // A copy into another document: equal, and its own.
    auto three = document();
    VexIDOM_Element r3 = three->getDocumentElement();
    VexIDOM_Helper::appendChild(r3, r1.getFirstChild());
    EXPECT_TRUE(r3.isEqualNode(r1));

    // A hosted document releases the deep tree left in its fragment.
    {
        VexIDOM_Node host = r1;
        VexIDOM_Document hosted(host);
        hosted.appendChild(r1.removeChild(r1.getFirstChild()));
    }
    EXPECT_FALSE(r1.hasChildNodes());
}
