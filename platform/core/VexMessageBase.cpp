#include "platform/core/VexMessageBase.h"

#include "platform/core/VexMessageCatalog.h"

VexMessageBase::VexMessageBase(const char* file, unsigned int number)
    : m_file(file ? file : ""), m_number(number)
{
}

VexMessageBase::~VexMessageBase() = default;

const char* VexMessageBase::getClassName() const { return "VexMessageBase"; }

I18NString VexMessageBase::format() const
{
    std::string pattern;
    if (VexMessageCatalog::lookup(m_file, m_number, pattern))
        return I18NString(VexMessageCatalog::substitute(pattern, m_parms));
    // Unknown number: never an empty text; name the message and keep its parameters.
    std::string text = m_file + " " + std::to_string(m_number);
    for (std::size_t i = 0; i < m_parms.size(); ++i)
        text += (i == 0 ? ": " : ", ") + m_parms[i].str();
    return I18NString(std::move(text));
}

I18NString VexMessageBase::toString() const
{
    return I18NString(std::to_string(m_number) + ": " + format().str());
}

VexSeverity VexMessageBase::getSeverity() const { return m_severity; }
void VexMessageBase::setSeverity(VexSeverity severity) { m_severity = severity; }
const char* VexMessageBase::getMsgFile() const { return m_file.c_str(); }
void VexMessageBase::setMsgFile(const char* file) { m_file = file ? file : ""; }
