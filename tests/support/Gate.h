#ifndef SKARN_TEST_GATE_H
#define SKARN_TEST_GATE_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Holds a peer's handler until the test opens it, at most 10 seconds, so that
// a test failing half-way never leaves a thread waiting for ever.
class Gate {
public:
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_open; });
    }
    void open()
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_open = true;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_open = false;
};

// Asks `done` every 20 ms, at most 100 times; its last answer.
inline bool pollUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 100; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

#endif
