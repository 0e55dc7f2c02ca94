#include "net/SkrStreamSocket.h"

#include "net/SkarnHost.h"
#include "net/SkarnSocketInputStream.h"
#include "platform/core/VexFmDir.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexUtSystemInfo.h"

#include <netinet/in.h>

#include <climits>
#include <cstddef>
#include <cstdlib>

SkrStreamSocket::SkrStreamSocket(int port, const sockaddr_storage& address, const char* echoPrefix,
                                 bool echoHeadersStay)
    : SkarnSocket(port, address), m_echoPrefix(echoPrefix), m_echoHeadersStay(echoHeadersStay)
{
}

SkrStreamSocket::~SkrStreamSocket() { closeEcho(); }

// ---- echo ----------------------------------------------------------------

std::string SkrStreamSocket::echoFilePath(const char* prefix, const char* name)
{
    char path[512];
    std::snprintf(path, sizeof path, "../logs/%s%ld_%.200s", prefix, VexUtSystemInfo::getProcessId(),
                  name ? name : "");
    return VexFmDir::resolveEffectivePath(path);
}

std::string SkrStreamSocket::effectiveEchoMode(const char* mode)
{
    if (mode && *mode)
        return mode;
    const char* env = std::getenv("ZEV_SKT_ECHO_MODE");
    if (env && *env)
        return std::string(env).substr(0, 15);
    return "a+b";
}

void SkrStreamSocket::closeEcho()
{
    if (!m_fpEcho)
        return;
    std::fclose(m_fpEcho);
    m_fpEcho = nullptr;
}

void SkrStreamSocket::echo(std::string sFileName)
{
    closeEcho();
    if (sFileName.empty())
        return;
    m_fpEcho = std::fopen(sFileName.c_str(), "a+b");
    VEX_ASSERT(m_fpEcho != NULL);
}

void SkrStreamSocket::echo(const char* sfilename) { echo(sfilename, nullptr, 0); }

void SkrStreamSocket::echo(const char* sfilename, const char* mode, int echo_rw)
{
    closeEcho();
    m_echo = m_echoHeadersStay ? (m_echo || echo_rw ? 1 : 0) : echo_rw;
    if (!sfilename || !*sfilename)
        return;
    const std::string m = effectiveEchoMode(mode);
    m_fpEcho = std::fopen(echoFilePath(m_echoPrefix, sfilename).c_str(), m.c_str());
}

void SkrStreamSocket::echoRecord(const char* format, int count, const char* bytes, int n)
{
    if (!m_fpEcho)
        return;
    if (format)
        std::fprintf(m_fpEcho, format, count);
    if (n > 0)
        std::fwrite(bytes, 1, static_cast<std::size_t>(n), m_fpEcho);
    std::fflush(m_fpEcho);
}

// ---- target and pool -----------------------------------------------------

void SkrStreamSocket::prepare(int port, const sockaddr_storage& address)
{
    Close();
    m_url.reset();
    m_nPort = port;
    m_address = address.ss_family == FAMILY_UNRESOLVED ? SkarnHost::getIPAddress(nullptr) : address;
}

void SkrStreamSocket::setServerHostInfo(const char* host) { m_serverHost = host ? host : "localhost"; }

void SkrStreamSocket::setPoolKey(std::string key) { m_poolKey = std::move(key); }

std::string SkrStreamSocket::getPoolKey() { return m_poolKey; }

sockaddr_storage SkrStreamSocket::withPort(const sockaddr_storage& address, int port)
{
    sockaddr_storage a = address;
    if (a.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&a)->sin_port = htons(static_cast<unsigned short>(port));
    else if (a.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&a)->sin6_port = htons(static_cast<unsigned short>(port));
    return a;
}

// ---- reading -------------------------------------------------------------

bool SkrStreamSocket::takeGivenBack(char* buffer, unsigned length, int* received)
{
    SkarnSocketInputStream& in = getInputStream();
    if (in.held() == 0)
        return false;
    const unsigned most = static_cast<unsigned>(INT_MAX);
    *received = static_cast<int>(in.takeHeld(buffer, length > most ? most : length));
    return true;
}

void SkrStreamSocket::raiseIllegalArgument(const char* function)
{
    VexIllegalArgumentError(0, nullptr).hurl(VEX_LOCATION, function, "VEX_THROW");
}
