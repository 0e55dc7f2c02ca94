#include "skarn/ToolError.h"

#include "api/SkarnException.h"
#include "platform/core/VexThrowable.h"
#include "platform/streams/QioIOTimeoutException.h"

#include <iostream>

namespace {

std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string throwableText(const VexThrowable& t, bool verbose)
{
    if (verbose) {
        I18NString out;
        return t.toString("", "\n  ", out, 0).str();
    }
    std::string message = oneLine(t.getMessage().str());
    return std::string(t.getThrowableName()) + (message.empty() ? "" : ": " + message);
}

}  // namespace

ToolError::Status ToolError::statusOfCurrent()
{
    try {
        throw;
    } catch (const ToolError& e) {
        return e.status();
    } catch (const SkarnException& e) {
        // A URL the toolkit cannot use is the caller's mistake.
        return e.getErrorCode() == SkarnException::errBadUrl ? Usage : Transport;
    } catch (...) {
        return Transport;
    }
}

std::string ToolError::describeCurrent(bool verbose)
{
    try {
        throw;
    } catch (const ToolError& e) {
        return e.what();
    } catch (const QioIOTimeoutException& e) {
        return "timed out waiting for the peer (" + throwableText(e, verbose) + ")";
    } catch (const VexThrowable& t) {
        return throwableText(t, verbose);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown failure";
    }
}

int ToolError::run(const std::function<int()>& command, bool verbose)
{
    try {
        return command();
    } catch (...) {
        const Status status = statusOfCurrent();
        std::cerr << "skarn: " << describeCurrent(verbose) << std::endl;
        return status;
    }
}
