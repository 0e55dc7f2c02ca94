#include "platform/core/VexException.h"

VexException::~VexException() = default;

void VexException::hurl(const VexFileLocation& location, const char* function, const char* macro)
{
    addBackTrace(location, function, macro);
    throw VexException(*this);
}

I18NString VexException::getMessage() const
{
    I18NString out;
    for (std::size_t i = 0; i < getMessageCount(); ++i) {
        if (i)
            out.append("; ");
        out.append(getMessageAt(i).format());
    }
    return out;
}

I18NString& VexException::toString(const char* prefix, const char* separator, I18NString& out, int depth) const
{
    const char* p = prefix ? prefix : "";
    const char* sep = separator ? separator : "\n";
    out.append(p).append(getThrowableName());
    std::string head = " code=" + std::to_string(m_code) + " severity=" + std::to_string(m_severity);
    out.append(head.c_str());
    for (std::size_t i = 0; i < getMessageCount(); ++i) {
        out.append(sep).append(p).append("  ").append(getMessageAt(i).toString());
    }
    appendBackTrace(out, p, sep);
    (void)depth;
    return out;
}
