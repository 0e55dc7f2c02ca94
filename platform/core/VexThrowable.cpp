#include "platform/core/VexThrowable.h"

VexThrowable::~VexThrowable() = default;

I18NString VexThrowable::getMessage() { return static_cast<const VexThrowable*>(this)->getMessage(); }

const char* VexThrowable::getThrowableName() const { return "VexThrowable"; }

I18NString VexThrowable::toString()
{
    I18NString out;
    return toString("", "\n", out, 0);
}

I18NString VexThrowable::getMessage() const { return I18NString(); }

I18NString& VexThrowable::toString(const char* prefix, const char* separator, I18NString& out, int /*depth*/) const
{
    const char* p = prefix ? prefix : "";
    const char* sep = separator ? separator : "\n";
    out.append(p).append(getThrowableName());
    I18NString message = getMessage();
    if (!message.isEmpty())
        out.append(": ").append(message);
    appendBackTrace(out, p, sep);
    return out;
}

void VexThrowable::appendBackTrace(I18NString& out, const char* prefix, const char* separator) const
{
    for (const VexBackTraceEntry& e : m_backTrace) {
        std::string line = std::string(separator) + prefix + "  at " + e.unit + ":" + std::to_string(e.line) + " " +
                           (e.function.empty() ? "-" : e.function) + " [" + e.macro + "]";
        out.append(line.c_str());
    }
}

void VexThrowable::addBackTrace(const VexFileLocation& location, const char* function, const char* macro)
{
    VexBackTraceEntry e;
    e.unit = location.getUnit();
    e.line = location.getLine();
    e.function = function ? function : "";
    e.macro = macro ? macro : "";
    m_backTrace.push_back(std::move(e));
}
