#ifndef SKARN_TOOL_ACCESS_LOG_H
#define SKARN_TOOL_ACCESS_LOG_H

#include <mutex>
#include <ostream>
#include <string>

// One line per request on a stream, whole lines from any thread. The fields,
// in this order: UTC time, peer address, method, path, status, bytes in,
// bytes out, milliseconds.
//   Text: "2026-12-08T08:40:00Z 127.0.0.1 POST /svc 200 512 498 3"; unknown
//         fields show "-", a path's blanks and control bytes show as %XX.
//   JSON: {"time":"2026-12-08T08:40:00Z","peer":"127.0.0.1","method":"POST","path":"/svc",
//          "status":200,"bytes_in":512,"bytes_out":498,"ms":3}; unknown fields are null,
//         text escaped as JSON strings (bytes that are not UTF-8 become U+FFFD).
// A request that got no answer shows status 0.
class AccessLog {
public:
    enum Format { Text, Json };
    struct Entry {
        std::string peer, method, path;
        int status = 0;
        unsigned long long bytesIn = 0, bytesOut = 0;
        long long milliseconds = 0;
    };

    AccessLog(std::ostream* out, Format format) : m_out(out), m_format(format) {}
    bool enabled() const { return m_out != nullptr; }
    void write(const Entry& entry);
    // The line for `entry` at `when` (UTC, "YYYY-MM-DDTHH:MM:SSZ"), without its line end.
    std::string line(const Entry& entry, const std::string& when) const;

private:
    std::ostream* m_out;
    Format m_format;
    std::mutex m_lock;
};

#endif
