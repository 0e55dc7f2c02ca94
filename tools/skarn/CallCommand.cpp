#include "skarn/CallCommand.h"

#include "api/Skarn.h"
#include "platform/dom/DomWriter.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "skarn/ClientSession.h"
#include "skarn/ClientTarget.h"
#include "skarn/EnvelopeFile.h"
#include "skarn/LoadRunner.h"
#include "skarn/ProgressMeter.h"
#include "skarn/SoapFault.h"
#include "skarn/ToolError.h"
#include "skarn/XmlIndenter.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>

namespace {

std::string serialised(const VexIDOM_Node& node)
{
    struct Text : DomWriter {
        void writeChars(const char* data, unsigned length) override { out.append(data, length); }
        std::string out;
    } w;
    VexIDOM_Helper::write(node, w);
    return w.out;
}

}  // namespace

CallCommand::CallCommand(CLI::App& parent)
{
    m_app = parent.add_subcommand("call", "Send an envelope to a SOAP endpoint and print the response");
    m_app->add_option("URL", m_url, "http://host:port/path or https://...")->required();
    m_app->add_option("ENVELOPE", m_envelope, "Request envelope file, - for standard input")->capture_default_str();
    m_app->add_option("--attach", m_attach, "FILE[;type=MIME][;id=CID] sent as an attachment (repeatable)")
        ->type_name("SPEC")
        ->allow_extra_args(false);
    m_app->add_option("--action", m_action, "SOAPAction of the request");
    auto* chunk = m_app->add_option("--chunk-size", m_chunkSize, "Send the request in chunks of N bytes")
                      ->type_name("N")
                      ->check(CLI::Range(2, 1 << 30));
    m_app->add_flag("--content-length", m_contentLength, "Send the request with a Content-Length")->excludes(chunk);
    m_app->add_option("--header", m_headers, "'Name: value' request header (Authorization, Host)")
        ->type_name("HEADER")
        ->allow_extra_args(false);
    m_app->add_option("--timeout", m_timeout, "Read time-out in seconds")->type_name("S")->check(CLI::Range(1, 86400))->capture_default_str();
    m_app->add_option("--cacert", m_caFile, "Trusted CA certificates (PEM) for https")->type_name("FILE");
    m_app->add_option("--cert", m_certFile, "Client certificate (PEM)")->type_name("FILE");
    m_app->add_option("--key", m_keyFile, "Private key of the client certificate (PEM)")->type_name("FILE");
    m_app->add_flag("--insecure", m_insecure, "Do not verify the server certificate");
    m_app->add_option("--out", m_out, "Save response attachments in DIR, named after their content ids")->type_name("DIR");
    m_app->add_flag("--raw", m_raw, "Print the response envelope as received");
    m_app->add_flag("--verbose", m_verbose, "Request and response heads on stderr; back traces of failures");
    auto* repeat = m_app->add_option("--repeat", m_repeat, "Load mode: N exchanges")->type_name("N")->check(CLI::Range(1, 100000000));
    m_app->add_option("--concurrency", m_concurrency, "Load mode: on C threads, each on its own session")
        ->type_name("C")
        ->check(CLI::Range(1, 1024))->needs(repeat);
}

bool CallCommand::chosen() const { return m_app->parsed(); }

ClientExchange::Request CallCommand::buildRequest() const
{
    ClientExchange::Request request;
    const std::size_t authority = m_url.find("://");
    const std::size_t slash = authority == std::string::npos ? authority : m_url.find('/', authority + 3);
    request.path = slash == std::string::npos ? "/" : m_url.substr(slash, m_url.find('#', slash) - slash);
    request.envelope = EnvelopeFile::load(m_envelope);
    for (const std::string& a : m_attach)
        request.attachments.push_back(AttachmentSpec::parse(a));
    request.action = m_action;
    request.chunkSize = m_chunkSize;
    request.contentLength = m_contentLength;
    for (const std::string& h : m_headers) {
        const std::size_t colon = h.find(':');
        if (colon == std::string::npos || colon == 0)
            throw ToolError(ToolError::Usage, "--header " + h + ": not of the form 'Name: value'");
        const std::size_t value = h.find_first_not_of(" \t", colon + 1);
        request.headers.emplace_back(h.substr(0, colon), value == std::string::npos ? "" : h.substr(value));
    }
    return request;
}

int CallCommand::run()
{
    ClientTarget::Tls tls{m_caFile, m_certFile, m_keyFile, m_insecure, m_timeout, m_timeout};
    const ClientTarget target(m_url, tls);
    const ClientExchange::Request request = buildRequest();
    if (m_insecure)
        std::cerr << "skarn: WARNING: --insecure: the server's certificate is NOT verified" << std::endl;
    std::unique_ptr<Skarn> factory(Skarn::getSessionFactory());
    if (m_repeat > 0)
        return LoadRunner(*factory, target, request).run(m_repeat, m_concurrency, std::cout);
    return single(*factory, target, request);
}

int CallCommand::single(Skarn& factory, const ClientTarget& target, const ClientExchange::Request& request)
{
    ProgressMeter progress;
    ClientExchange::Response response;
    {
        ClientSession session(factory, target);
        ClientExchange::configure(session, request);
        try {
            response = ClientExchange::run(session, request, {&progress, m_verbose ? &std::cerr : nullptr});
        } catch (const QioIOTimeoutException&) {
            progress.finish();
            throw ToolError(ToolError::Transport,
                            "no data from the server for " + std::to_string(m_timeout) + " s (--timeout)");
        }
        progress.finish();
    }
    return report(response);
}

int CallCommand::report(const ClientExchange::Response& response)
{
    std::string error, faultText;
    std::unique_ptr<VexIDOM_Document> doc = EnvelopeFile::parse(response.envelope, error);
    if (m_raw || !doc)
        std::cout << response.envelope;
    else
        std::cout << XmlIndenter::indent(serialised(*doc));
    std::cout.flush();
    save(response);
    const bool fault = doc && SoapFault::find(*doc, faultText);
    if (response.status == 200 && !fault)
        return ToolError::Ok;
    std::string text = "the server answered " + std::to_string(response.status) + " " + response.reason;
    if (fault)
        text += ", a SOAP fault: " + faultText;
    throw ToolError(ToolError::Answered, text);
}

void CallCommand::save(const ClientExchange::Response& response) const
{
    if (response.attachments.empty())
        return;
    if (m_out.empty()) {
        std::cerr << "skarn: " << response.attachments.size() << " response attachments not saved (no --out)" << std::endl;
        return;
    }
    if (::mkdir(m_out.c_str(), 0777) != 0 && errno != EEXIST)
        throw ToolError(ToolError::Usage, "--out " + m_out + ": " + std::strerror(errno));
    std::set<std::string> used;
    for (const ClientExchange::Part& part : response.attachments) {
        std::string name = AttachmentSpec::safeFileName(part.id);
        for (int n = 1; !used.insert(name).second; ++n)
            name = AttachmentSpec::safeFileName(part.id) + "." + std::to_string(n);
        const std::string path = m_out + "/" + name;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(part.bytes.data(), static_cast<std::streamsize>(part.bytes.size()));
        if (!file.flush())
            throw ToolError(ToolError::Usage, "cannot write " + path + ": " + std::strerror(errno));
        if (m_verbose)
            std::cerr << "skarn: saved " << path << " (" << part.type << ", " << part.bytes.size() << " bytes)" << std::endl;
    }
}
