#include "ToolError.h"

#include <skarn/api/SkarnException.h>
#include <skarn/platform/core/VexThrowable.h>
#include <skarn/platform/streams/QioIOTimeoutException.h>

#include <cmath>
#include <cstring>
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

// The toolkit's whole account: exception class, codes, messages, back trace.
std::string trace(const VexThrowable& t)
{
    I18NString out;
    return t.toString("", "\n  ", out, 0).str();
}

// The messages of a toolkit failure without class name and codes.
std::string messageOf(const VexThrowable& t) { return oneLine(t.getMessage().str()); }

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// What the system or the TLS library said last: the text after the last "failed: ".
std::string reasonIn(const std::string& message)
{
    const std::size_t at = message.rfind("failed: ");
    return at == std::string::npos ? message : message.substr(at + 8);
}

std::string tries(const ToolError::Peer& peer, double seconds)
{
    if (peer.connectAttempts <= 1)
        return "";
    return " (" + std::to_string(peer.connectAttempts) + " tries over " + std::to_string(std::lround(seconds)) + " s)";
}

// The TLS library's words without its error codes: "error:0A00010B:SSL routines::wrong version number" -> "wrong
// version number".
std::string withoutCodes(std::string text)
{
    for (std::size_t at; (at = text.find("error:")) != std::string::npos;) {
        const std::size_t words = text.find("::", at);
        if (words == std::string::npos)
            break;
        text.erase(at, words + 2 - at);
    }
    return text;
}

// The reason in a toolkit message without the catalogue text before its
// literal part (" ; "), the secure-socket call and status ("QSM_Connect=0x...
// QSM_Connect_Url: ") and the TLS library's codes.
std::string plainReason(const std::string& message)
{
    const std::size_t literal = message.rfind(" ; ");
    std::string text = literal == std::string::npos ? message : message.substr(literal + 3);
    for (;;) {
        const std::size_t word = text.find_first_of(" :=");
        if (text.compare(0, 4, "QSM_") != 0 || word == std::string::npos)
            break;
        const std::size_t next = text.find(' ', word);
        text = next == std::string::npos ? std::string() : text.substr(next + 1);
    }
    return withoutCodes(text);
}

// A file of the session document the TLS library could not load: the option
// that named it and the library's reason, or empty.
std::string unloadableFile(const std::string& message)
{
    static const char* const files[][2] = {
        {"cannot load caFile '", "--cacert"}, {"cannot load certificateFile '", "--cert"}, {"cannot load privateKeyFile '", "--key"}};
    for (const auto& f : files) {
        const std::size_t at = message.find(f[0]);
        if (at == std::string::npos)
            continue;
        const std::size_t name = at + std::strlen(f[0]), end = message.find("': ", name);
        if (end == std::string::npos)
            continue;
        return std::string(f[1]) + " " + message.substr(name, end - name) + ": " + withoutCodes(message.substr(end + 3));
    }
    return "";
}

// Why a TLS handshake failed, from the library's account of it.
std::string tlsReason(const std::string& message, const ToolError::Peer& peer)
{
    const std::string reason = withoutCodes(message);
    if (has(reason, "wrong version number") || has(reason, "http request") || has(reason, "packet length too long"))
        return "the server speaks plain HTTP";
    if (has(reason, "hostname mismatch") || has(reason, "IP address mismatch"))
        return "the server's certificate is not for " + peer.authority.substr(0, peer.authority.rfind(':')) +
               " (host name mismatch)";
    const std::size_t verify = reason.find("certificate verification failed: ");
    if (verify != std::string::npos) {
        const std::size_t from = verify + 33;
        const std::string why = reason.substr(from, reason.find(';', from) - from);
        return "the server's certificate is not trusted (" + why + "; --cacert FILE names the CA to trust)";
    }
    if (has(reason, "timed out") || has(reason, "did not complete"))
        return "the server did not complete it in time";
    if (has(reason, "the peer closed"))
        return "the server closed the connection";
    return reasonIn(reason);
}

std::string connectFailure(const SkarnException& e, const ToolError::Peer& peer, double seconds)
{
    const std::string message = messageOf(e);
    if (e.getErrorCode() == SkarnException::errHostNotResolved || e.getErrorCode() == SkarnException::errNoAddress)
        return "no address found for " + peer.authority;
    if (has(message, "TLS handshake") || has(message, "TLS negotiation"))
        return "TLS handshake with " + peer.authority + " failed: " + tlsReason(message, peer);
    const std::string reason = reasonIn(message);
    if (has(reason, "Connection refused"))
        return "connection refused by " + peer.authority + tries(peer, seconds);
    if (has(reason, "timed out"))
        return "no connection to " + peer.authority +
               (peer.connectTimeoutSeconds > 0
                    ? " within " + std::to_string(peer.connectTimeoutSeconds) + " s (--connect-timeout)"
                    : "") +
               tries(peer, seconds);
    return "cannot connect to " + peer.authority + ": " + plainReason(message);
}

std::string exchangeFailure(const SkarnException& e, const ToolError::Peer& peer)
{
    const std::string message = messageOf(e);
    switch (e.getErrorCode()) {
    case SkarnException::errUnexpectedEnd:
        if (has(message, "start line or header block"))
            return std::string("the server closed the connection before answering") + (peer.tls ? "" : " (is it a TLS port?)");
        return "the server closed the connection before its answer was complete";
    case SkarnException::errBadStatusLine:
    case SkarnException::errBadHttpVersion:
        return "the server's answer is not HTTP" + std::string(peer.tls ? "" : " (is it a TLS port?)");
    case SkarnException::errSocket: {
        const std::string reason = reasonIn(message);
        if (has(reason, "reset") || has(reason, "Broken pipe") || has(reason, "closed"))
            return "the server closed the connection during the exchange (" + reason + ")";
        return "the connection to " + peer.authority + " failed: " + plainReason(reason);
    }
    default:
        return "the server's answer cannot be read: " + plainReason(message);
    }
}

}  // namespace

ToolError ToolError::fromCurrent(const Peer& peer, Phase phase, double seconds)
{
    try {
        throw;
    } catch (const ToolError& e) {
        return e;
    } catch (const QioIOTimeoutException& e) {
        return ToolError(Transport,
                         "no data from the server for " + std::to_string(peer.readTimeoutSeconds) + " s (--timeout)",
                         trace(e));
    } catch (const SkarnException& e) {
        if (e.getErrorCode() == SkarnException::errBadUrl)
            return ToolError(Usage, "the URL cannot be used: " + messageOf(e), trace(e));
        const std::string file = unloadableFile(messageOf(e));
        if (!file.empty())
            return ToolError(Usage, file, trace(e));
        return ToolError(Transport, phase == Connecting ? connectFailure(e, peer, seconds) : exchangeFailure(e, peer),
                         trace(e));
    } catch (const VexThrowable& t) {
        const std::string message = plainReason(messageOf(t));
        return ToolError(Transport, (phase == Connecting ? "cannot connect to " : "the exchange with ") + peer.authority +
                                        (phase == Connecting ? "" : " failed") + (message.empty() ? "" : ": " + message),
                         trace(t));
    }
}

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
        return verbose && !e.detail().empty() ? std::string(e.what()) + "\n  " + e.detail() : e.what();
    } catch (const QioIOTimeoutException& e) {
        return "no data from the peer in time" + (verbose ? "\n  " + trace(e) : std::string());
    } catch (const VexThrowable& t) {
        const std::string message = messageOf(t);
        return (message.empty() ? std::string("the toolkit failed") : message) + (verbose ? "\n  " + trace(t) : "");
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
