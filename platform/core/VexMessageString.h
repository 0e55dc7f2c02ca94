#ifndef VEX_MESSAGE_STRING_H
#define VEX_MESSAGE_STRING_H

#include "VexMessageBase.h"

// A literal text carried as a message (number 0): the offending line, a
// library's failure text.
class SKARN_EXPORT VexMessageString : public VexMessageBase {
public:
    explicit VexMessageString(const I18NString& text) : VexMessageBase("", 0), m_text(text) {}
    explicit VexMessageString(const char* text) : VexMessageBase("", 0), m_text(text) {}
    ~VexMessageString() override;

    VexMessageBase* clone() const override { return new VexMessageString(*this); }
    const char* getClassName() const override { return "VexMessageString"; }
    I18NString format() const override { return m_text; }
    I18NString toString() const override { return m_text; }

    const I18NString& getText() const { return m_text; }

private:
    I18NString m_text;
};

#endif
