#ifndef SKARN_SOCKET_INPUT_STREAM_H
#define SKARN_SOCKET_INPUT_STREAM_H

#include "../platform/streams/QioInputStream.h"
#include "../platform/streams/QioPushback.h"

#include <atomic>

class SkarnSocket;

// The input stream of a socket, with a time-out and a cancel operation on
// blocking reads, both built on the socket's time-limit callback.
//
// Modes:   none     no callback
//          time-out callback after the caller's seconds of silence, cancel not enabled
//          cancel   callback every second, cancel enabled
// setTimeout(n > 0) enters time-out from none or time-out; setTimeout(0) goes
// back to none. setCancel(1) enters cancel from none or cancel; setCancel(0)
// goes back to none. Time-out to cancel and cancel to time-out raise
// VexUnsupportedOperationError. A mode survives the exceptions it raises.
//
// In time-out mode a read that waits longer than the limit raises
// QioIOTimeoutException (the limit counts from the start of each wait: it
// bounds silence, not the whole message). In cancel mode cancel() from another
// thread makes the read waiting (or the next one that waits a full second)
// raise QioIOCancelException within about a second. A secure socket in
// blocking mode waits inside its library and never calls the callback.
//
// Bytes given back with unread() (a buffered reader's read-ahead past the end
// of its message, given back when it is done) are held here; the socket's
// ReadBuffer serves them before it waits or receives again, so that the next
// message on the connection loses none of them. Close() drops them.
//
// Slots: those of QioInputStream (1 and 3 pure), 7-15 defined here, 16 getSocket (pure).
class SKARN_EXPORT SkarnSocketInputStream : public QioInputStream {
public:
    ~SkarnSocketInputStream() override;

    // 1: bytes given back are kept (in front of any held before).
    int canUnread() override;
    void unread(const char* bytes, unsigned length) override;
    // Bytes given back and not read again yet.
    unsigned held() const { return static_cast<unsigned>(m_held.size()); }
    // For the socket's ReadBuffer: up to `length` held bytes into `buffer`; the count.
    unsigned takeHeld(char* buffer, unsigned length) { return m_held.take(buffer, length); }
    // For the socket's Close(): held bytes belong to the connection that ends.
    void dropHeld() { m_held.clear(); }

    // 1 when cancel is not enabled.
    int canTimeout() override;
    // seconds > 0: VexUnsupportedOperationError in cancel mode, else the time-out.
    // seconds <= 0: leaves time-out mode (nothing in cancel mode).
    // Returns 1 when a time-out is in force afterwards.
    int setTimeout(int seconds) override;
    // 0 in cancel mode, else the socket's time limit.
    int getTimeout() override;
    // 1 in cancel mode or when no time-out is set.
    int canCancel() override;
    // VexUnsupportedOperationError when canCancel() is 0; enters (non-zero) or
    // leaves (0) cancel mode. Returns 1.
    int setCancel(int on) override;
    int getCancel() override;
    // From any thread: asks the waiting (or next waiting) read to end with
    // QioIOCancelException. VexIllegalStateError when cancel is not enabled.
    // It does not interrupt a wait; the reading thread sees it within a second.
    void cancel() override;

    virtual SkarnSocket* getSocket() = 0;

    // The time-limit callback; `instancePointer` is the stream. Raises
    // QioIOTimeoutException when a response limit has passed or, in time-out
    // mode, when the wait has lasted the time-out; QioIOCancelException
    // (clearing the request) in cancel mode once a cancel is requested; else
    // returns.
    static void timeoutHandler(void* instancePointer);

    // Response limits, set by a client session while it reads a response and
    // independent of the modes above (which message readers reset as they
    // go): a read that waits `silenceSeconds` without data, or any read once
    // `totalSeconds` have passed since this call, raises
    // QioIOTimeoutException. 0 leaves that limit off; both 0 clears them.
    // While a limit is on, the socket calls back every second.
    void setResponseLimits(int silenceSeconds, int totalSeconds);
    bool hasResponseLimits() const { return m_silenceLimit > 0 || m_deadline != 0; }
    // A minimum data rate over the limits above (a server reading a request
    // body): the time left starts at `graceSeconds` and each byte received
    // adds 1/bytesPerSecond of a second to it, never beyond `graceSeconds`
    // ahead; a read once it has run out raises QioIOTimeoutException. A peer
    // that trickles below the rate runs out within about `graceSeconds`.
    // setResponseLimits(0, 0) ends it.
    void setMinimumRate(int bytesPerSecond, int graceSeconds);
    // For the socket: `bytes` arrived from the wire.
    void received(unsigned bytes)
    {
        if (m_minRate > 0)
            creditRate(bytes);
    }

protected:
    SkarnSocketInputStream();

    // Each read calls this before it asks the socket: a new wait begins, and
    // a response whose time is up ends here even while bytes keep coming.
    void beginRead()
    {
        m_waitCalls = 0;
        if (m_deadline != 0)
            checkDeadline();
    }

private:
    // (Re)installs the socket's callback for the mode and limits in force.
    void installCallback();
    void checkDeadline();
    void creditRate(unsigned bytes);

    std::atomic<int> m_cancelEnabled;    // read by the cancelling thread in cancel()
    std::atomic<int> m_cancelRequested;  // set by the cancelling thread, cleared by the reader
    int m_timeoutSeconds = 0;            // the time-out mode's limit
    int m_silenceLimit = 0;              // response limit: callbacks (seconds) of one wait
    long long m_deadline = 0;            // response limit: steady-clock milliseconds
    int m_waitCalls = 0;                 // callbacks during the current wait
    int m_minRate = 0;                   // minimum rate: bytes per second, 0 off
    long long m_rateGraceMillis = 0;     // minimum rate: the most time left ahead
    QioPushback m_held;
};

#endif
