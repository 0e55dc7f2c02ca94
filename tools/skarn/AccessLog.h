#ifndef SKARN_TOOL_ACCESS_LOG_H
#define SKARN_TOOL_ACCESS_LOG_H

#include <mutex>
#include <ostream>
#include <string>

// One line per request on a stream, whole lines from any thread:
// "<UTC time> <peer> <method> <path> <status> <bytes in> <bytes out> <ms>".
// A request that got no answer shows status 0; unknown fields show "-".
class AccessLog {
public:
    struct Entry {
        std::string peer, method, path;
        int status = 0;
        unsigned long long bytesIn = 0, bytesOut = 0;
        long long milliseconds = 0;
    };

    explicit AccessLog(std::ostream* out) : m_out(out) {}
    bool enabled() const { return m_out != nullptr; }
    void write(const Entry& entry);

private:
    std::ostream* m_out;
    std::mutex m_lock;
};

#endif
