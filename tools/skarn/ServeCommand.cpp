#include "skarn/ServeCommand.h"

#include "api/Skarn.h"
#include "conn/SkarnServerSocket.h"
#include "http/SkrHTTPParser.h"
#include "net/SkarnSocket.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexThrowable.h"
#include "skarn/AccessLog.h"
#include "skarn/EnvelopeFile.h"
#include "skarn/RequestHandler.h"
#include "skarn/ToolError.h"
#include "skarn/WatchedSocket.h"

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> stopping{false};
std::mutex acceptTurn;  // one thread accepts at a time

extern "C" void onStopSignal(int) { stopping.store(true); }

void installStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

std::string element(const char* name, const std::string& value)
{
    std::string text;
    for (char c : value)
        text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
    return std::string("<") + name + ">" + text + "</" + name + ">";
}

std::string peerOf(SkarnSocket& socket)
{
    VexByteBuffer text(64, 64);
    socket.getIPAddress(text);
    return std::string(text.getData(), text.getLength());
}

}  // namespace

ServeCommand::ServeCommand(CLI::App& parent)
{
    m_app = parent.add_subcommand("serve", "Answer SOAP requests: echo them back, or answer with a fixed envelope");
    m_app->add_option("--port", m_port, "Port to listen on (0: any free port, printed on the first line)")
        ->type_name("P")
        ->required()
        ->check(CLI::Range(0, 65535));
    m_app->add_option("--bind", m_bind, "Address to listen on: 127.0.0.1, ::1, 0.0.0.0, ...")->type_name("ADDR")->capture_default_str();
    m_app->add_option("--respond", m_respond, "Answer every request with the envelope in FILE instead of echoing")
        ->type_name("FILE");
    m_app->add_option("--tls-cert", m_tlsCert, "Server certificate (PEM): TLS connections only")->type_name("FILE");
    m_app->add_option("--tls-key", m_tlsKey, "Private key of the server certificate (PEM)")->type_name("FILE");
    m_app->add_option("--threads", m_threads, "Connections served at once")->type_name("N")->check(CLI::Range(1, 1024))->capture_default_str();
    m_app->add_option("--idle-timeout", m_idleTimeout, "Close a connection silent for S seconds")
        ->type_name("S")
        ->check(CLI::Range(1, 86400))->capture_default_str();
    m_app->add_option("--request-timeout", m_requestTimeout, "Close a connection whose request is not read whole in S seconds")
        ->type_name("S")
        ->check(CLI::Range(1, 86400))->capture_default_str();
    m_app->add_option("--max-head", m_maxHead, "Longest request head accepted, in bytes")
        ->type_name("BYTES")
        ->check(CLI::Range(256L, 64L * 1024 * 1024))->capture_default_str();
    m_app->add_flag("--log", m_log,
                    "One access-log line per request on stdout: time peer method path status bytes-in bytes-out ms");
    m_app->add_option("--log-format", m_logFormat, "text, or json: one JSON object per line (implies --log)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"text", "json"}))
        ->capture_default_str();
}

bool ServeCommand::chosen() const { return m_app->parsed(); }

std::string ServeCommand::listenerDocument() const
{
    std::string doc = "<sessionConfigDocument>" + element("serviceID", "skarn-serve");
    if (!m_tlsCert.empty())
        doc += element("certificateFile", m_tlsCert) + element("privateKeyFile", m_tlsKey);
    // A client that opens a TLS connection and says nothing holds the accept no longer than this.
    doc += element("handshakeTimeoutSeconds", std::to_string(m_idleTimeout));
    return doc + "</sessionConfigDocument>";
}

ToolError ServeCommand::listenFailure() const
{
    const std::string where = (m_bind.find(':') == std::string::npos ? m_bind : "[" + m_bind + "]") + ":" +
                              std::to_string(m_port);
    const ToolError toolkit = ToolError::fromCurrent(ToolError::Peer{where}, ToolError::Connecting, 0);
    std::string text = ToolError::describeCurrent(false);
    for (const char* known : {"Address already in use", "Permission denied", "Cannot assign requested address"})
        if (text.find(known) != std::string::npos)
            text = known;
    if (text.size() > 1)
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return ToolError(ToolError::Transport, "cannot listen on " + where + ": " + text, toolkit.detail());
}

int ServeCommand::run()
{
    if (m_tlsCert.empty() != m_tlsKey.empty())
        throw ToolError(ToolError::Usage, "--tls-cert and --tls-key go together");
    for (const std::string* file : {&m_tlsCert, &m_tlsKey})
        if (!file->empty() && ::access(file->c_str(), R_OK) != 0)
            throw ToolError(ToolError::Usage, "cannot read " + *file);
    unsigned char address[16];
    if (::inet_pton(AF_INET, m_bind.c_str(), address) != 1 && ::inet_pton(AF_INET6, m_bind.c_str(), address) != 1)
        throw ToolError(ToolError::Usage, "--bind " + m_bind + ": not a numeric IPv4 or IPv6 address");
    const std::string fixed = m_respond.empty() ? "" : EnvelopeFile::load(m_respond);
    SkrHTTPParser::setHeadLimit(static_cast<std::size_t>(m_maxHead));

    std::unique_ptr<Skarn> factory(Skarn::getSessionFactory());
    factory->setProperty("QSMSSLServer", m_tlsCert.empty() ? 0 : 1);
    std::string document = listenerDocument(), bind = m_bind;
    SkarnServerSocket* listener = nullptr;
    try {
        listener = factory->getServerSocket(&bind[0], m_port, &document[0]);
    } catch (...) {
        throw listenFailure();
    }
    if (m_port == 0)
        std::cout << listener->getListenOnPort() << std::endl;
    installStopSignals();

    RequestHandler handler(*factory, fixed);
    const bool logging = m_log || m_app->count("--log-format") > 0;
    AccessLog log(logging ? &std::cout : nullptr, m_logFormat == "json" ? AccessLog::Json : AccessLog::Text);
    std::vector<std::thread> workers;
    for (int i = 0; i < m_threads; ++i)
        workers.emplace_back([&] { work(*listener, handler, log); });
    for (std::thread& t : workers)
        t.join();
    listener->release();
    return ToolError::Ok;
}

void ServeCommand::work(SkarnServerSocket& listener, RequestHandler& handler, AccessLog& log)
{
    while (!stopping.load()) {
        SkarnSocket* accepted = nullptr;
        {
            std::lock_guard<std::mutex> turn(acceptTurn);
            if (stopping.load())
                return;
            try {
                accepted = listener.awaitCommunicationAttempt(1);
            } catch (VexThrowable&) {
                continue;  // a client that failed its handshake; the listener goes on
            }
        }
        if (accepted)
            serveConnection(accepted, handler, log);
    }
}

void ServeCommand::serveConnection(SkarnSocket* accepted, RequestHandler& handler, AccessLog& log)
{
    WatchedSocket::Limits limits;
    limits.idleSeconds = m_idleTimeout;
    limits.messageSeconds = m_requestTimeout;
    limits.stop = &stopping;
    std::unique_ptr<WatchedSocket> socket;
    try {
        socket.reset(new WatchedSocket(accepted, limits));
    } catch (VexThrowable&) {
        delete accepted;
        return;
    }
    const std::string peer = peerOf(*socket);
    for (bool more = true; more;) {
        socket->expectMessage();
        const unsigned long long in = socket->bytesIn(), out = socket->bytesOut();
        char first;
        try {
            // The connection's next request, or its end: idle, closed, or a stopping server.
            if (socket->getInputStream().read(&first, 1) != 1)
                return;
        } catch (VexThrowable&) {
            return;
        }
        socket->getInputStream().unread(&first, 1);
        const auto start = std::chrono::steady_clock::now();
        RequestHandler::Outcome outcome = handler.serve(*socket);
        AccessLog::Entry entry{peer, outcome.method, outcome.path, outcome.status, socket->bytesIn() - in,
                               socket->bytesOut() - out,
                               std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count()};
        log.write(entry);
        more = outcome.keep && !stopping.load();
        if (outcome.status == 500 && !outcome.readWhole)
            socket->discardInput(1 << 20);  // the rest of the bad request, so that the fault arrives
    }
}
