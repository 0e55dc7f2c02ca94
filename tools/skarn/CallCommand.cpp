#include "CallCommand.h"

#include <skarn/api/Skarn.h>
#include <skarn/api/SkarnSession.h>
#include <skarn/platform/dom/DomWriter.h>
#include <skarn/platform/dom/VexIDOM_Document.h>
#include <skarn/platform/dom/VexIDOM_Helper.h>
#include <skarn/platform/dom/XmlUrl.h>

#include "ClientSession.h"
#include "ClientTarget.h"
#include "EnvelopeFile.h"
#include "LoadRunner.h"
#include "ProgressMeter.h"
#include "SoapFault.h"
#include "ToolError.h"
#include "XmlIndenter.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
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

// A Location value made absolute against the target it answered: an absolute URL as it is, "//host/..." with
// the scheme, "/path" with the origin, anything else beside the last '/' of the path.
std::string resolved(const ClientTarget& base, const std::string& location)
{
    try {
        const XmlUrl absolute{I18NString(location)};
        return location;
    } catch (...) {  // not an absolute URL (Xerces' MalformedURLException): a reference to resolve
    }
    if (location.compare(0, 2, "//") == 0)
        return base.origin().substr(0, base.origin().find(':') + 1) + location;
    if (!location.empty() && location[0] == '/')
        return base.origin() + location;
    return base.origin() + base.path().substr(0, base.path().rfind('/') + 1) + location;
}

std::string base64(const std::string& bytes)
{
    static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned long v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? digits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

}  // namespace

CallCommand::CallCommand(CLI::App& parent)
{
    m_app = parent.add_subcommand("call", "Send an envelope to a SOAP endpoint and print the response");
    m_app->add_option("URL", m_url, "http://host:port/path or https://...")->required();
    auto* envelope = m_app->add_option("ENVELOPE", m_envelope, "Request envelope file, - for standard input")
                         ->capture_default_str();
    m_app->add_option("--data", m_data, "The request envelope as TEXT instead of a file")
        ->type_name("TEXT")
        ->excludes(envelope);
    m_app->add_option("--attach", m_attach, "FILE[;type=MIME][;id=CID] sent as an attachment (repeatable)")
        ->type_name("SPEC")
        ->allow_extra_args(false);
    m_app->add_option("--action", m_action, "SOAPAction of the request (with --soap12: the action parameter)");
    m_app->add_flag("--soap12", m_soap12,
                    "SOAP 1.2 framing: Content-Type application/soap+xml with the action, no SOAPAction header");
    auto* chunk = m_app->add_option("--chunk-size", m_chunkSize, "Send the request in chunks of N bytes")
                      ->type_name("N")
                      ->check(CLI::Range(2, 1 << 30));
    m_app->add_flag("--content-length", m_contentLength, "Send the request with a Content-Length")->excludes(chunk);
    m_app->add_option("-H,--header", m_headers, "'Name: value' request header (repeatable; not the framing headers)")
        ->type_name("HEADER")
        ->allow_extra_args(false);
    m_app->add_option("-u,--user", m_user, "USER:PASSWORD sent as Basic authorization")->type_name("USER:PASSWORD");
    m_app->add_option("--timeout", m_timeout, "Seconds of silence from the server before giving up while reading")
        ->type_name("S")
        ->check(CLI::Range(1, 86400))
        ->capture_default_str();
    m_app->add_option("--connect-timeout", m_connectTimeout, "Seconds for one connect attempt (default: the system's)")
        ->type_name("S")
        ->check(CLI::Range(1, 86400));
    m_app->add_option("--cacert", m_caFile, "Trusted CA certificates (PEM) for https")->type_name("FILE");
    m_app->add_option("--cert", m_certFile, "Client certificate (PEM)")->type_name("FILE");
    m_app->add_option("--key", m_keyFile, "Private key of the client certificate (PEM)")->type_name("FILE");
    m_app->add_flag("--insecure", m_insecure, "Do not verify the server certificate");
    m_app->add_option("--out", m_out, "Save response attachments in DIR, named after their content ids")->type_name("DIR");
    m_app->add_flag("--raw", m_raw, "Print the response envelope as received");
    m_app->add_flag("-L,--location", m_follow, "Follow redirects (Location), 5 at most: 307 and 308 with the same POST, 301, 302 and 303 with a GET");
    m_app->add_flag("-i,--include", m_include, "Print the response head (status line, every field as parsed) before the envelope");
    m_app->add_option("-o,--output", m_output, "Write the response envelope to FILE instead of standard output")
        ->type_name("FILE");
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
    request.envelope = m_app->count("--data") ? EnvelopeFile::check(m_data, "--data") : EnvelopeFile::load(m_envelope);
    for (const std::string& a : m_attach)
        request.attachments.push_back(AttachmentSpec::parse(a));
    request.action = m_action;
    request.chunkSize = m_chunkSize;
    request.contentLength = m_contentLength;
    request.soap12 = m_soap12;
    for (const std::string& h : m_headers) {
        const std::size_t colon = h.find(':');
        if (colon == std::string::npos || colon == 0)
            throw ToolError(ToolError::Usage, "--header " + h + ": not of the form 'Name: value'");
        const std::size_t value = h.find_first_not_of(" \t", colon + 1);
        const std::string name = h.substr(0, colon);
        const std::string text = value == std::string::npos ? "" : h.substr(value);
        // Checked as the session will check it, before anything connects.
        const std::string problem = SkarnSession::headerProblem(name, text);
        if (!problem.empty())
            throw ToolError(ToolError::Usage, "--header: " + problem);
        request.headers.emplace_back(name, text);
    }
    if (m_app->count("--user")) {
        if (m_user.find(':') == std::string::npos)
            throw ToolError(ToolError::Usage, "--user " + m_user + ": not of the form USER:PASSWORD");
        request.headers.emplace_back("Authorization", "Basic " + base64(m_user));
    }
    return request;
}

int CallCommand::run()
{
    m_tls = ClientTarget::Tls{m_caFile, m_certFile, m_keyFile, m_insecure, m_timeout, m_timeout, m_connectTimeout};
    const ClientTarget target(m_url, m_tls);
    ClientExchange::Request request = buildRequest();
    request.path = target.path();
    if (m_insecure)
        std::cerr << "skarn: WARNING: --insecure: the server's certificate is NOT verified" << std::endl;
    std::unique_ptr<Skarn> factory(Skarn::getSessionFactory());
    if (m_repeat > 0)
        return LoadRunner(*factory, target, request).run(m_repeat, m_concurrency, std::cout);
    return single(*factory, target, request);
}

ClientExchange::Response CallCommand::once(Skarn& factory, const ClientTarget& target,
                                           const ClientExchange::Request& request)
{
    ProgressMeter progress;
    ClientSession session(factory, target);
    ClientExchange::configure(session, request);
    try {
        ClientExchange::Response response =
            ClientExchange::run(session, request, {&progress, m_verbose ? &std::cerr : nullptr});
        progress.finish();
        return response;
    } catch (...) {
        progress.finish();
        throw;
    }
}

int CallCommand::single(Skarn& factory, ClientTarget target, ClientExchange::Request request)
{
    std::string heads;  // of the redirects followed, for -i
    for (int hop = 0;; ++hop) {
        ClientExchange::Response response = once(factory, target, request);
        const int s = response.status;
        const bool redirect = s == 301 || s == 302 || s == 303 || s == 307 || s == 308;
        if (!m_follow || !redirect || response.location.empty()) {
            response.head = heads + response.head;
            return report(response);
        }
        if (hop == kMaxRedirects)
            throw ToolError(ToolError::Answered, "more than " + std::to_string(kMaxRedirects) +
                                                     " redirects (-L); the last to " + response.location);
        const std::string url = resolved(target, response.location);
        if (m_verbose)
            std::cerr << "skarn: " << s << " to " << url << std::endl;
        heads += response.head;
        target = ClientTarget(url, m_tls);
        request.path = target.path();
        if (s != 307 && s != 308) {
            // 301, 302 and 303 are followed with a GET: no envelope, no parts.
            request.get = true;
            request.envelope.clear();
            request.attachments.clear();
        }
    }
}

int CallCommand::report(const ClientExchange::Response& response)
{
    std::string error, faultText;
    std::unique_ptr<VexIDOM_Document> doc = EnvelopeFile::parse(response.envelope, error);
    std::ofstream file;
    if (!m_output.empty()) {
        file.open(m_output, std::ios::binary | std::ios::trunc);
        if (!file)
            throw ToolError(ToolError::Usage, "--output " + m_output + ": " + std::strerror(errno));
    }
    std::ostream& out = m_output.empty() ? std::cout : file;
    if (m_include)
        out << response.head;
    if (m_raw || !doc)
        out << response.envelope;
    else
        out << XmlIndenter::indent(serialised(*doc));
    std::cout.flush();
    if (!m_output.empty() && !file.flush())
        throw ToolError(ToolError::Usage, "cannot write " + m_output + ": " + std::strerror(errno));
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
