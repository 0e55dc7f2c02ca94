#ifndef VEX_MESSAGE_PARM_H
#define VEX_MESSAGE_PARM_H

#include "I18NString.h"

#include <string>

// One parameter of a catalogue message: its text, filled into the message's
// numbered place (%1, %2, ...) in the order the parameters were attached.
class SKARN_EXPORT VexMessageParm {
public:
    explicit VexMessageParm(const I18NString& text) : m_text(text) {}
    explicit VexMessageParm(const char* text) : m_text(text) {}
    explicit VexMessageParm(long value) : m_text(std::to_string(value)) {}

    const I18NString& getText() const { return m_text; }

private:
    I18NString m_text;
};

#endif
