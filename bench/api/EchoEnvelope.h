#ifndef SKARN_BENCH_ECHO_ENVELOPE_H
#define SKARN_BENCH_ECHO_ENVELOPE_H

#include <skarn/skarn.h>

#include <memory>
#include <string>

// The echo call of the benchmark's peers, as a host builds it with the DOM:
// Envelope / Body / ns:NAME / PART, with the text as PART's content, in the
// namespace of the gSOAP peer's service, so that both peers carry the same
// payload in envelopes of about the same length.
inline std::unique_ptr<VexIDOM_Document> echoEnvelope(const char* name, const char* part, const std::string& text)
{
    const char* soap = "http://schemas.xmlsoap.org/soap/envelope/";
    VexIDOM_DOMImplementation& dom = VexIDOM_DOMImplementation::getImplementation();
    std::unique_ptr<VexIDOM_Document> doc(dom.createDocument(soap, "SOAP-ENV:Envelope"));
    VexIDOM_Element call = doc->createElementNS("urn:skarn-bench-echo", name);
    call.appendChild(doc->createElementNS(nullptr, part)).appendChild(doc->createTextNode(text.c_str()));
    doc->getDocumentElement().appendChild(doc->createElementNS(soap, "SOAP-ENV:Body")).appendChild(call);
    return doc;
}

#endif
