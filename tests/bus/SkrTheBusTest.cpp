// The factory's refusals, made before any connection is tried.
#include "bus/SkrTheBus.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <memory>

TEST(SkrTheBus, UnknownKeysAndMissingConfigurationValuesAreRefused)
{
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    for (const char* key : {"Host", "non-ssl-sockets", "QSMSSLServer "}) {
        try {
            bus->setProperty(key, 1);
            ADD_FAILURE() << key;
        } catch (const VexIllegalArgumentError& e) {
            EXPECT_EQ("SkrTheBus::setProperty", e.getBackTraceAt(0).function) << key;
        }
    }
    const char* ns = SkrTheBus::getNamespaceURI();
    struct Row {
        const char* present[3];  // values of host, port, path; null: no element
        const char* missing;
    } rows[] = {{{nullptr, "1", "/p"}, "host"}, {{"h", "", "/p"}, "port"}, {{"h", "1", nullptr}, "path"}};
    for (const Row& row : rows) {
        std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(ns, "b:cfg"));
        VexIDOM_Element cfg = doc->getDocumentElement();
        const char* names[3] = {"b:host", "b:port", "b:path"};
        for (int i = 0; i < 3; ++i) {
            if (!row.present[i])
                continue;
            VexIDOM_Element e = doc->createElementNS(ns, names[i]);
            if (*row.present[i])
                e.appendChild(doc->createTextNode(row.present[i]));
            cfg.appendChild(e);
        }
        SkarnException e = expectSkarnError([&] { bus->getSession(cfg, nullptr, 0); },
                                            {SkarnException::errMissingConfigValue, 1842308005u, "", "Skarn::getSession"});
        EXPECT_EQ(row.missing, parmsOf(e));
    }
}
