// The `skarn` command-line tool: `skarn call` and `skarn serve` on the
// toolkit's public interface, as any host program uses it.
#include <skarn/api/SkarnProcess.h>
#include <skarn/conn/SkrConnectionPoolFactory.h>

#include "CallCommand.h"
#include "ServeCommand.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>
#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    CLI::App app("skarn: send SOAP envelopes with attachments over HTTP(S), or answer them", "skarn");
    app.set_version_flag("--version", std::string("skarn ") + SKARN_VERSION);
    app.require_subcommand(1);
    const char* const statuses =
        "Exit status: 0 success; 1 the server answered a SOAP fault or a status other than 200;\n"
        "2 usage: options, input files, a URL or header that cannot be used (nothing is sent);\n"
        "3 connection, TLS, time-out or any other failure of the exchange (serve: cannot listen).";
    app.footer(statuses);
    CallCommand call(app);
    ServeCommand serve(app);
    for (CLI::App* sub : app.get_subcommands({}))
        sub->footer(statuses);
    // A first word that is neither an option nor a subcommand is named as such
    // (the parser alone would only say that a subcommand is required).
    const std::string first = argc > 1 ? argv[1] : "-";
    if (first[0] != '-' && first != "call" && first != "serve") {
        std::cerr << "skarn: unknown subcommand \"" << first << "\" (call, serve; skarn --help)" << std::endl;
        return ToolError::Usage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? ToolError::Ok : ToolError::Usage;
    }

    // Sockets wait in non-blocking mode, where reads honour time-outs (the
    // tool's time limits are built on them); set before any socket exists.
    ::setenv("ZEV_SKT_NONBLOCKING", "1", 1);
    ::signal(SIGPIPE, SIG_IGN);
    if (SkarnProcessInitialize("skarn") != 0) {
        std::cerr << "skarn: the toolkit could not start" << std::endl;
        return ToolError::Transport;
    }
    const bool verbose = call.chosen() && call.verbose();
    const int status = ToolError::run([&] { return call.chosen() ? call.run() : serve.run(); }, verbose);
    SkrConnectionPoolFactory::destroyInstance();
    SkarnProcessTerminate("skarn");
    return status;
}
