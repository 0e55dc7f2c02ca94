#ifndef SKARN_TOOL_LOAD_RUNNER_H
#define SKARN_TOOL_LOAD_RUNNER_H

#include "ClientExchange.h"

#include <ostream>
#include <string>

class ClientTarget;
class Skarn;

// Load mode of `skarn call`: N exchanges of one request on C threads, each
// thread on its own session (its own connection, kept alive). An exchange
// counts as an error when it fails or its status is not 200; the thread then
// goes on with a new session, as it does without an error after an answer
// that ends the connection ("Connection: close", or HTTP/1.0 without
// keep-alive). A thread that cannot connect stops, and its
// remaining exchanges are not run.
class LoadRunner {
public:
    LoadRunner(Skarn& factory, const ClientTarget& target, const ClientExchange::Request& request)
        : m_factory(factory), m_target(target), m_request(request) {}

    // Prints exchanges per second, latency p50/p90/p99/max and the error
    // count on `out`; the first error's text on stderr. Exit status: 0 without
    // errors, 1 when only answers were wrong, 3 when an exchange failed.
    int run(int repeat, int concurrency, std::ostream& out);

private:
    Skarn& m_factory;
    const ClientTarget& m_target;
    const ClientExchange::Request& m_request;
};

#endif
