#include "ProgressMeter.h"

#include <unistd.h>

#include <cstdio>

ProgressMeter::ProgressMeter() : m_terminal(::isatty(2) == 1) {}

void ProgressMeter::add(unsigned long long bytes)
{
    m_bytes += bytes;
    const Clock::time_point now = Clock::now();
    if (!m_terminal || m_bytes <= (1u << 20) || now - m_lastDraw < std::chrono::milliseconds(200))
        return;
    m_lastDraw = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double mib = static_cast<double>(m_bytes) / (1 << 20);
    std::fprintf(stderr, "\rskarn: %llu bytes (%.1f MiB), %.1f MiB/s   ", m_bytes, mib,
                 seconds > 0 ? mib / seconds : 0.0);
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressMeter::finish()
{
    if (m_drawn)
        std::fputs("\n", stderr);
    m_drawn = false;
}
