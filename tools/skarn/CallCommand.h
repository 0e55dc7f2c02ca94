#ifndef SKARN_TOOL_CALL_COMMAND_H
#define SKARN_TOOL_CALL_COMMAND_H

#include "ClientExchange.h"
#include "ClientTarget.h"

#include <string>
#include <vector>

namespace CLI {
class App;
}
class ClientSession;
class Skarn;

// `skarn call URL [ENVELOPE | -]`: one exchange whose response envelope goes
// to stdout (indented, or as received with --raw) and whose attachments go
// to --out; or, with --repeat/--concurrency, a load run (LoadRunner).
// Exit status: 0 success, 1 a SOAP fault or a status other than 200,
// 2 bad usage or an unreadable input file, 3 connection, TLS or time-out failure.
class CallCommand {
public:
    explicit CallCommand(CLI::App& parent);
    bool chosen() const;
    bool verbose() const { return m_verbose; }
    int run();

private:
    ClientExchange::Request buildRequest() const;
    // One exchange; with -L, again at each redirect's Location, 5 times at most
    // (307, 308: the same request; 301, 302, 303: a GET).
    int single(Skarn& factory, ClientTarget target, ClientExchange::Request request);
    ClientExchange::Response once(Skarn& factory, const ClientTarget& target, const ClientExchange::Request& request);
    int report(const ClientExchange::Response& response);
    void save(const ClientExchange::Response& response) const;

    CLI::App* m_app;
    std::string m_url, m_envelope = "-", m_action, m_out, m_caFile, m_certFile, m_keyFile, m_user, m_output, m_data;
    std::vector<std::string> m_attach, m_headers;
    static const int kMaxRedirects = 5;
    ClientTarget::Tls m_tls;
    int m_chunkSize = 0, m_timeout = 30, m_connectTimeout = 0, m_repeat = 0, m_concurrency = 1;
    bool m_contentLength = false, m_raw = false, m_insecure = false, m_verbose = false, m_include = false;
    bool m_soap12 = false, m_follow = false;
};

#endif
