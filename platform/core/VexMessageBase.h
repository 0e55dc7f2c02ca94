#ifndef VEX_MESSAGE_BASE_H
#define VEX_MESSAGE_BASE_H

#include "I18NString.h"

#include <string>
#include <vector>

typedef int VexSeverity;
// Severity of the toolkit's own failures, and of broken preconditions.
enum { VEX_SEVERITY_INFO = 0, VEX_SEVERITY_WARNING = 1, VEX_SEVERITY_ERROR = 2 };

// A message: a number in a catalogue file with its parameters, or a literal
// text (number 0). Virtual operations in slot order: destructor, clone,
// getClassName, format, toString, getSeverity, setSeverity, getMsgFile, setMsgFile.
class SKARN_EXPORT VexMessageBase {
public:
    virtual ~VexMessageBase();
    virtual VexMessageBase* clone() const = 0;
    virtual const char* getClassName() const;
    // The text with its parameters filled in; a number the catalogue does not
    // hold formats as "<file> <number>" followed by its parameters.
    virtual I18NString format() const;
    // "<number>: <formatted text>" (only the text for a literal message).
    virtual I18NString toString() const;
    virtual VexSeverity getSeverity() const;
    virtual void setSeverity(VexSeverity severity);
    virtual const char* getMsgFile() const;
    virtual void setMsgFile(const char* file);

    unsigned int getMsgNumber() const { return m_number; }
    std::size_t getParmCount() const { return m_parms.size(); }
    const I18NString& getParmAt(std::size_t i) const { return m_parms.at(i); }

protected:
    VexMessageBase(const char* file, unsigned int number);

    std::string m_file;
    unsigned int m_number;
    VexSeverity m_severity = VEX_SEVERITY_ERROR;
    std::vector<I18NString> m_parms;
};

#endif
