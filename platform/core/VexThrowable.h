#ifndef VEX_THROWABLE_H
#define VEX_THROWABLE_H

#include "I18NString.h"
#include "VexFileLocation.h"

#include <string>
#include <vector>

// One entry of a throwable's back trace: where it was raised or passed on.
struct SKARN_EXPORT VexBackTraceEntry {
    std::string unit;      // source unit, e.g. "SkrHTTPParser"
    int line = 0;
    std::string function;  // the operation's text; empty when none was given
    std::string macro;     // "VEX_THROW", "VEX_RETHROW", "VEX_ASSERT"
};

// Root of everything the core, the stream layer and the toolkit raise. Not a
// std::exception: hosts catch VexThrowable (or a subclass) by reference.
//
// Virtual operations in slot order: destructor, clone, hurl, getMessage(),
// getThrowableName, toString(), getMessage() const, toString(prefix, separator, out, depth).
//
// hurl() adds one back-trace entry and throws a copy of the object by value as
// its most derived class; it never returns.
class SKARN_EXPORT VexThrowable {
public:
    virtual ~VexThrowable();
    virtual VexThrowable* clone() const = 0;
    [[noreturn]] virtual void hurl(const VexFileLocation& location, const char* function, const char* macro) = 0;
    virtual I18NString getMessage();
    virtual const char* getThrowableName() const;
    virtual I18NString toString();
    virtual I18NString getMessage() const;
    // Appends to `out` the name, the messages and the back trace, each line
    // starting with `prefix` and lines separated by `separator`; returns `out`.
    virtual I18NString& toString(const char* prefix, const char* separator, I18NString& out, int depth) const;

    void addBackTrace(const VexFileLocation& location, const char* function, const char* macro);
    std::size_t getBackTraceCount() const { return m_backTrace.size(); }
    const VexBackTraceEntry& getBackTraceAt(std::size_t i) const { return m_backTrace.at(i); }

protected:
    VexThrowable() = default;
    // Appends one line per back-trace entry, each preceded by `separator` and `prefix`.
    void appendBackTrace(I18NString& out, const char* prefix, const char* separator) const;
    VexThrowable(const VexThrowable&) = default;
    VexThrowable& operator=(const VexThrowable&) = default;

private:
    std::vector<VexBackTraceEntry> m_backTrace;
};

#endif
