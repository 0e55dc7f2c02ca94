#include "ServeCommand.h"

#include <skarn/api/Skarn.h>

#include "AccessLog.h"
#include "EnvelopeFile.h"
#include "RequestHandler.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

SkarnServerRuntime* running = nullptr;  // the runtime the stop signals stop

extern "C" void onStopSignal(int)
{
    if (running)
        running->stop();  // async-signal-safe
}

void installStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // Restarted: an access-log line blocked on a full pipe when the stop
    // comes must still be written whole, not failed with EINTR.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// Every descriptor the system allows: each connection holds one.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string element(const char* name, const std::string& value)
{
    std::string text;
    for (char c : value)
        text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
    return std::string("<") + name + ">" + text + "</" + name + ">";
}

std::string statsLine(const SkarnServerRuntime::Counters& c)
{
    std::ostringstream line;
    line << "skarn serve: open " << c.open << " idle " << c.idle << " handshaking " << c.handshaking << " reading "
         << c.reading << " active " << c.active << " | accepted " << c.accepted << " requests " << c.requests
         << " faults " << c.faults << " edge " << c.edgeAnswers << " refused " << c.refused << " | timeouts idle "
         << c.idleTimeouts << " head " << c.headTimeouts << " handshake " << c.handshakeTimeouts << " body "
         << c.bodyTimeouts << " write " << c.writeTimeouts << " | handshake failures " << c.handshakeFailures;
    return line.str();
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
    m_app->add_option("--threads", m_limits.workers, "Worker threads serving requests (0: four per core)")
        ->type_name("N")->check(CLI::Range(0, 1024))->capture_default_str();
    m_app->add_option("--max-connections", m_limits.maxConnections, "Open connections at most")
        ->type_name("N")->check(CLI::Range(1, 1000000))->capture_default_str();
    m_app->add_option("--over-limit", m_overLimit,
                      "Past --max-connections: refuse (accept and close at once) or wait (stop accepting)")
        ->type_name("POLICY")->check(CLI::IsMember({"refuse", "wait"}))->capture_default_str();
    m_app->add_option("--idle-timeout", m_limits.idleTimeoutSeconds, "Close a kept-alive connection idle for S seconds")
        ->type_name("S")->check(CLI::Range(1, 86400))->capture_default_str();
    m_app->add_option("--head-timeout,--request-timeout", m_limits.headTimeoutSeconds,
                      "Answer 408 and close when a request head has not arrived S seconds after its first byte")
        ->type_name("S")->check(CLI::Range(1, 86400))->capture_default_str();
    m_app->add_option("--body-min-rate", m_limits.bodyMinBytesPerSecond,
                      "Slowest request body accepted, in bytes per second (after the head time-out as grace)")
        ->type_name("BYTES")->check(CLI::Range(1, 1 << 30))->capture_default_str();
    m_app->add_option("--write-timeout", m_limits.writeTimeoutSeconds,
                      "Close a connection whose client takes no response bytes for S seconds")
        ->type_name("S")->check(CLI::Range(1, 86400))->capture_default_str();
    m_app->add_option("--max-head", m_limits.headLimitBytes, "Longest request head accepted, in bytes (431 above)")
        ->type_name("BYTES")->check(CLI::Range(256, 64 * 1024 * 1024))->capture_default_str();
    m_app->add_option("--max-body", m_limits.maxBodyBytes, "Largest request body announced, in bytes (413 above)")
        ->type_name("BYTES")->check(CLI::Range(0LL, 1LL << 40))->capture_default_str();
    m_app->add_option("--max-requests", m_limits.maxRequestsPerConnection,
                      "Requests served on one connection (0: no limit)")
        ->type_name("N")->check(CLI::Range(0, 1 << 30))->capture_default_str();
    m_app->add_option("--drain", m_limits.drainSeconds, "At a stop, seconds that requests in flight have to finish")
        ->type_name("S")->check(CLI::Range(0, 3600))->capture_default_str();
    m_app->add_option("--health-path", m_limits.healthPath, "Path answered 200 to GET and HEAD")
        ->type_name("PATH")->capture_default_str();
    m_app->add_option("--stats", m_stats, "Print the server's counters on stderr every S seconds")
        ->type_name("S")->check(CLI::Range(1, 86400));
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
    doc += element("handshakeTimeoutSeconds", std::to_string(m_limits.handshakeTimeoutSeconds));
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
    if (m_limits.healthPath.empty() || m_limits.healthPath[0] != '/')
        throw ToolError(ToolError::Usage, "--health-path " + m_limits.healthPath + ": a path starts with /");
    const std::string fixed = m_respond.empty() ? "" : EnvelopeFile::load(m_respond);
    m_limits.refuseOverLimit = m_overLimit == "refuse";
    raiseDescriptorLimit();

    // The factory initialises the toolkit for this process.
    std::unique_ptr<Skarn> factory(Skarn::getSessionFactory());
    const bool logging = m_log || m_app->count("--log-format") > 0;
    AccessLog log(logging ? &std::cout : nullptr, m_logFormat == "json" ? AccessLog::Json : AccessLog::Text);
    RequestHandler handler(fixed, log);
    SkarnServerRuntime server(handler, m_limits);
    const std::string document = listenerDocument();
    int port;
    try {
        port = server.listen(m_bind.c_str(), m_port, document.c_str(), m_tlsCert.empty() ? 0 : 1);
    } catch (...) {
        throw listenFailure();
    }
    if (m_port == 0)
        std::cout << port << std::endl;
    running = &server;
    installStopSignals();

    std::mutex statsLock;
    std::condition_variable statsWake;
    bool finished = false;
    std::thread stats;
    if (m_stats > 0)
        stats = std::thread([&] {
            std::unique_lock<std::mutex> lock(statsLock);
            while (!statsWake.wait_for(lock, std::chrono::seconds(m_stats), [&] { return finished; }))
                std::cerr << statsLine(server.counters()) << std::endl;
        });
    server.run();
    running = nullptr;
    if (stats.joinable()) {
        {
            std::lock_guard<std::mutex> lock(statsLock);
            finished = true;
        }
        statsWake.notify_all();
        stats.join();
        std::cerr << statsLine(server.counters()) << std::endl;
    }
    return ToolError::Ok;
}
