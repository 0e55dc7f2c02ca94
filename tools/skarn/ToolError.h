#ifndef SKARN_TOOL_TOOL_ERROR_H
#define SKARN_TOOL_TOOL_ERROR_H

#include <functional>
#include <stdexcept>
#include <string>

// A failure the tool reports: its exit status, one line of text a person can
// read (the reason first, in words) and, for a toolkit failure, the toolkit's
// own account (error codes, message numbers, back trace), shown only under
// --verbose. Every command runs inside run(), the one place where whatever is
// raised becomes an exit status and the stderr line.
class ToolError : public std::runtime_error {
public:
    enum Status { Ok = 0, Answered = 1, Usage = 2, Transport = 3 };

    // What the client was doing when the toolkit failed, for the words of the line.
    struct Peer {
        std::string authority;   // "host:port" as the URL gives it
        bool tls = false;
        int connectAttempts = 0, connectTimeoutSeconds = 0, readTimeoutSeconds = 0;
    };
    enum Phase { Connecting, Exchanging };

    ToolError(Status status, const std::string& text, std::string detail = std::string())
        : std::runtime_error(text), m_status(status), m_detail(std::move(detail)) {}
    Status status() const { return m_status; }
    // The toolkit's account of the failure; empty for the tool's own.
    const std::string& detail() const { return m_detail; }

    // The exception being handled (inside a catch), a toolkit failure while
    // `phase` with `peer`, in words; `seconds` since the phase began.
    static ToolError fromCurrent(const Peer& peer, Phase phase, double seconds);

    // Runs `command`; its result is the exit status. A failure prints
    // "skarn: <text>" on stderr (followed by the detail when `verbose`).
    static int run(const std::function<int()>& command, bool verbose);
    // The text of the exception being handled (inside a catch): one line, or
    // with `verbose` that line and the detail.
    static std::string describeCurrent(bool verbose);
    // The exit status of the exception being handled (inside a catch).
    static Status statusOfCurrent();

private:
    Status m_status;
    std::string m_detail;
};

#endif
