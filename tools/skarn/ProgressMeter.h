#ifndef SKARN_TOOL_PROGRESS_METER_H
#define SKARN_TOOL_PROGRESS_METER_H

#include <chrono>

// A progress line on stderr for transfers over 1 MiB: bytes so far and the
// rate, redrawn at most five times a second, only when stderr is a terminal.
class ProgressMeter {
public:
    ProgressMeter();
    void add(unsigned long long bytes);
    // Ends the line if one was drawn.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    bool m_terminal;
    bool m_drawn = false;
    unsigned long long m_bytes = 0;
    Clock::time_point m_start = Clock::now(), m_lastDraw{};
};

#endif
