#ifndef SKARN_TOOL_TOOL_ERROR_H
#define SKARN_TOOL_TOOL_ERROR_H

#include <functional>
#include <stdexcept>
#include <string>

// A failure the tool reports: its exit status and one line of text. Every
// command runs inside run(), the one place where whatever is raised (ours,
// the toolkit's, the library's) becomes an exit status and one stderr line.
class ToolError : public std::runtime_error {
public:
    enum Status { Ok = 0, Answered = 1, Usage = 2, Transport = 3 };

    ToolError(Status status, const std::string& text) : std::runtime_error(text), m_status(status) {}
    Status status() const { return m_status; }

    // Runs `command`; its result is the exit status. A failure prints
    // "skarn: <text>" on stderr (with the back trace when `verbose`).
    static int run(const std::function<int()>& command, bool verbose);
    // The one-line text of the exception being handled (inside a catch).
    static std::string describeCurrent(bool verbose);
    // The exit status of the exception being handled (inside a catch).
    static Status statusOfCurrent();

private:
    Status m_status;
};

#endif
