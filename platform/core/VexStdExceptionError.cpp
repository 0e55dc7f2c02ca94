#include "platform/core/VexStdExceptionError.h"

#include <cxxabi.h>

#include <cstdlib>
#include <string>
#include <typeinfo>

namespace {

std::string describe(const std::exception& e)
{
    const char* mangled = typeid(e).name();
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string text = (status == 0 && readable) ? readable : mangled;
    std::free(readable);
    text += ": ";
    text += e.what();
    return text;
}

}  // namespace

VexStdExceptionError::VexStdExceptionError(const std::exception& e) : VexError(0, describe(e).c_str()) {}

VexStdExceptionError::~VexStdExceptionError() = default;
