// What parsing one echo envelope costs, and what the alternatives to the DOM
// layer's parser would cost at best, in the same run:
//   - toolkit:  VexIDOM_Parser into a host document (pre-scan, limits, the
//               kept Xerces DOM parser, the tree moved into the host's document);
//   - xerces_dom: Xerces' DOM parser alone with the same settings, from memory
//               (what the layer adds is the difference);
//   - sax2, sax2_wf: Xerces' SAX2 reader (its full scanner, and the
//               well-formedness scanner) with a handler that keeps only what a
//               compact node store must keep at least: element names and text,
//               appended to two flat strings reused between parses. The gap
//               between xerces_dom and sax2 is the most a toolkit node store fed
//               by SAX2 could save; building and serving the nodes costs more.
// Beside them, the other DOM work of one side of an echo exchange:
//   - build:  the host builds the answer envelope (createDocument, elements, text);
//   - write:  the layer serialises it (what setEnvelope writes);
//   - text:   the host reads the request's text back (getTextContent).
// Envelopes carry 783 bytes and 64 KiB of text (the echo benchmark's sizes).
// The CPU column is per operation.
#include "api/SkarnProcess.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Element.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "support/MemoryInputStream.h"

#include <benchmark/benchmark.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <memory>
#include <stdexcept>
#include <string>

using namespace xercesc;

namespace {

std::string payload(std::size_t n)
{
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
        text += "abcdefghijklmnopqrstuvwxyz0123456789"[i % 36];
    return text;
}

std::string envelope(std::size_t n)
{
    const std::string text = payload(n);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
           "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
           "<ns:echoString xmlns:ns=\"urn:skarn-bench-echo\"><in>" +
           text + "</in></ns:echoString></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

void BM_Toolkit(benchmark::State& st)
{
    const std::string bytes = envelope(static_cast<std::size_t>(st.range(0)));
    VexIDOM_DOMImplementation& dom = VexIDOM_DOMImplementation::getImplementation();
    for (auto _ : st) {
        // As the message reader does: the parse builds in the host's document.
        std::unique_ptr<VexIDOM_Document> holder(dom.createDocument(nullptr, "holder"));
        VexIDOM_Element parent = holder->getDocumentElement();
        VexIDOM_Document hosted(parent);
        MemoryInputStream in(bytes);
        VexIDOM_Parser parser(0);
        if (parser.parse(in, hosted) != 0)
            throw std::runtime_error("toolkit parse failed");
        VexIDOM_Helper::appendChild(parent, hosted.getFirstChild());
    }
}

void BM_XercesDom(benchmark::State& st)
{
    const std::string bytes = envelope(static_cast<std::size_t>(st.range(0)));
    XercesDOMParser parser;
    parser.setDoNamespaces(true);
    parser.setValidationScheme(XercesDOMParser::Val_Never);
    parser.setLoadExternalDTD(false);
    parser.setCreateEntityReferenceNodes(false);
    for (auto _ : st) {
        MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), "envelope");
        parser.parse(source);
        if (parser.getErrorCount() != 0 || !parser.getDocument())
            throw std::runtime_error("Xerces DOM parse failed");
        parser.resetDocumentPool();
    }
}

// Keeps names and text in two flat buffers, as a compact store would at least.
struct Collect : DefaultHandler {
    std::u16string names, text;
    void startElement(const XMLCh* const, const XMLCh* const localname, const XMLCh* const,
                      const Attributes&) override
    {
        names.append(reinterpret_cast<const char16_t*>(localname));
    }
    void characters(const XMLCh* const chars, const XMLSize_t length) override
    {
        text.append(reinterpret_cast<const char16_t*>(chars), length);
    }
};

void BM_Sax2(benchmark::State& st, bool wellFormednessScanner)
{
    const std::string bytes = envelope(static_cast<std::size_t>(st.range(0)));
    std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader());
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
    reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
    if (wellFormednessScanner)
        reader->setProperty(XMLUni::fgXercesScannerName, const_cast<XMLCh*>(XMLUni::fgWFXMLScanner));
    Collect collect;
    reader->setContentHandler(&collect);
    reader->setErrorHandler(&collect);
    for (auto _ : st) {
        collect.names.clear();
        collect.text.clear();
        MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), "envelope");
        reader->parse(source);
        if (collect.text.size() != static_cast<std::size_t>(st.range(0)))
            throw std::runtime_error("SAX2 parse lost text");
    }
}

std::unique_ptr<VexIDOM_Document> answer(const std::string& text)
{
    const char* soap = "http://schemas.xmlsoap.org/soap/envelope/";
    std::unique_ptr<VexIDOM_Document> doc(
        VexIDOM_DOMImplementation::getImplementation().createDocument(soap, "SOAP-ENV:Envelope"));
    VexIDOM_Element call = doc->createElementNS("urn:skarn-bench-echo", "ns:echoStringResponse");
    call.appendChild(doc->createElementNS(nullptr, "out")).appendChild(doc->createTextNode(text.c_str()));
    doc->getDocumentElement().appendChild(doc->createElementNS(soap, "SOAP-ENV:Body")).appendChild(call);
    return doc;
}

void BM_Build(benchmark::State& st)
{
    const std::string text = payload(static_cast<std::size_t>(st.range(0)));
    for (auto _ : st)
        benchmark::DoNotOptimize(answer(text));
}

struct CountingWriter : DomWriter {
    std::size_t bytes = 0;
    void writeChars(const char*, unsigned length) override { bytes += length; }
};

void BM_Write(benchmark::State& st)
{
    std::unique_ptr<VexIDOM_Document> doc(answer(payload(static_cast<std::size_t>(st.range(0)))));
    for (auto _ : st) {
        CountingWriter w;
        VexIDOM_Helper::write(doc->getDocumentElement(), w);
        if (w.bytes < static_cast<std::size_t>(st.range(0)))
            throw std::runtime_error("short serialisation");
    }
}

void BM_Text(benchmark::State& st)
{
    std::unique_ptr<VexIDOM_Document> doc(answer(payload(static_cast<std::size_t>(st.range(0)))));
    for (auto _ : st)
        benchmark::DoNotOptimize(doc->getDocumentElement().getTextContent());
}

BENCHMARK(BM_Build)->Name("build")->Arg(783)->Arg(65536);
BENCHMARK(BM_Write)->Name("write")->Arg(783)->Arg(65536);
BENCHMARK(BM_Text)->Name("text")->Arg(783)->Arg(65536);
BENCHMARK(BM_Toolkit)->Name("toolkit")->Arg(783)->Arg(65536);
BENCHMARK(BM_XercesDom)->Name("xerces_dom")->Arg(783)->Arg(65536);
BENCHMARK_CAPTURE(BM_Sax2, full, false)->Name("sax2")->Arg(783)->Arg(65536);
BENCHMARK_CAPTURE(BM_Sax2, wf, true)->Name("sax2_wf")->Arg(783)->Arg(65536);

}  // namespace

int main(int argc, char** argv)
{
    SkarnProcessInitialize("bench");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SkarnProcessTerminate("bench");
    return 0;
}
