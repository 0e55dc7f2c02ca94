// The factory's refusals, made before any connection is tried.
#include "bus/SkrTheBus.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "support/ExpectThrow.h"

#include <memory>

TEST(SkrTheBus, UnknownKeysAndMissingConfigurationValuesAreRefused)
{
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    for (const char* key : {"Host", "non-ssl-sockets", "QSMSSLServer "})
        EXPECT_EQ("0: SkrTheBus::setProperty [VEX_THROW]", raised<VexIllegalArgumentError>([&] { bus->setProperty(key, 1); })) << key;
    const char* ns = SkrTheBus::getNamespaceURI();
    for (const char* missing : {"host", "port", "path"}) {
        std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument(ns, "b:cfg"));
        VexIDOM_Element cfg = doc->getDocumentElement();
        for (const std::string name : {"host", "port", "path"}) {
            if (name == missing && name != "port")
                continue;  // an empty port element counts as missing too
            VexIDOM_Node e = cfg.appendChild(doc->createElementNS(ns, ("b:" + name).c_str()));
            if (name != missing)
                e.appendChild(doc->createTextNode("1"));
        }
        SkarnException e = expectSkarnError([&] { bus->getSession(cfg, nullptr, 0); },
                                            {SkarnException::errMissingConfigValue, 1842308005u, "", "Skarn::getSession"});
        EXPECT_EQ(missing, parmsOf(e));
    }
}
