#ifndef SKR_ENABLED_OUTPUT_STREAM_H
#define SKR_ENABLED_OUTPUT_STREAM_H

#include "platform/streams/QioOutputStream.h"

// The one stream a message writer hands to the application: it forwards to
// the body stream of the part that is open (the target, not owned) and
// refuses writes while no part is open, so that nothing reaches the wire
// between parts or after the message.
// Slots: 0 destructor, 1 write, 2 flush and 3 close (inherited).
class SkrEnabledOutputStream : public QioOutputStream {
public:
    SkrEnabledOutputStream() = default;
    ~SkrEnabledOutputStream() override;

    // Disabled or without target: VexIllegalStateError "[SkrEnabledOutputStream::write] -
    // output stream not enabled (is this envelope or attachment closed?)".
    // Otherwise the target's write; its exceptions pass through, after the
    // failure hook has run (part of the message may be on the wire).
    void write(const char* data, unsigned length) override;

    void setTarget(QioOutputStream* target) { m_target = target; }
    void setEnabled(int enabled) { m_enabled = enabled; }
    // Called with `context` when a write of the target fails, before the
    // exception leaves write(); it may disable the stream and drop the target.
    typedef void (*FailureHook)(void* context);
    void setFailureHook(FailureHook hook, void* context)
    {
        m_onFailure = hook;
        m_failureContext = context;
    }

private:
    int m_enabled = 0;
    QioOutputStream* m_target = nullptr;
    FailureHook m_onFailure = nullptr;
    void* m_failureContext = nullptr;
};

#endif
