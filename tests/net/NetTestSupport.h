#ifndef SKARN_TEST_NET_SUPPORT_H
#define SKARN_TEST_NET_SUPPORT_H

// What the socket tests share: counted sleeps of the connect retries, patterned
// bytes and a folder for echo files (reads and writes: SkarnTestServer.h).
#include "net/SkarnSocket.h"
#include "platform/core/VexThread.h"
#include "support/ScopedEnv.h"
#include "support/SkarnTestServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

const char kPlainDoc[] = "<sessionConfigDocument><serviceID>client</serviceID></sessionConfigDocument>";
const unsigned kSocketError = 1841392216u;

// Records the connect retries' sleeps instead of sleeping.
inline std::vector<int>& sleeps()
{
    static std::vector<int> s;
    return s;
}
struct FakeSleep {
    VexThread::SleepFunction previous = VexThread::setSleepFunction([](int seconds) { sleeps().push_back(seconds); });
    FakeSleep() { sleeps().clear(); }
    ~FakeSleep() { VexThread::setSleepFunction(previous); }
};

struct Releaser {
    void operator()(SkarnSocket* s) const { s->release(); }
};
using SocketPtr = std::unique_ptr<SkarnSocket, Releaser>;

inline std::string pattern(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xff);
    return s;
}

inline std::string fileText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A folder for echo files: SKARN_HOME is <tmp>/home, so "../logs/..." is <tmp>/home/../logs.
struct EchoFolder {
    std::string root = makeRoot();
    ScopedEnv home{"SKARN_HOME", root + "/home"};
    ScopedEnv rw{"ZEV_SKT_ECHO_RW", nullptr};
    ScopedEnv mode{"ZEV_SKT_ECHO_MODE", nullptr};
    static std::string makeRoot()
    {
        char tmpl[] = "/tmp/skarn-echo-XXXXXX";
        const std::string root = mkdtemp(tmpl);
        ::mkdir((root + "/home").c_str(), 0700);
        ::mkdir((root + "/logs").c_str(), 0700);
        return root;
    }
    ~EchoFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    // The echo file `name` of this process; the secure socket's names start "pid_".
    std::string file(const std::string& name, const char* prefix = "") const
    {
        return root + "/home/../logs/" + prefix + std::to_string(getpid()) + "_" + name;
    }
};

#endif
