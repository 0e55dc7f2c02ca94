#include "skarn/AccessLog.h"

#include <ctime>

void AccessLog::write(const Entry& e)
{
    if (!m_out)
        return;
    char when[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    ::gmtime_r(&now, &utc);
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    auto field = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    std::lock_guard<std::mutex> lock(m_lock);
    *m_out << when << ' ' << field(e.peer) << ' ' << field(e.method) << ' ' << field(e.path) << ' ' << e.status << ' '
           << e.bytesIn << ' ' << e.bytesOut << ' ' << e.milliseconds << std::endl;
}
