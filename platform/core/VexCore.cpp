#include "platform/core/VexCore.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

struct Module {
    std::string name;
    VexModuleStart start;
    VexModuleStop stop;
};

std::mutex& lock()
{
    static std::mutex m;
    return m;
}

std::vector<Module>& modules()
{
    static std::vector<Module> all;
    return all;
}

}  // namespace

int vexRegisterModule(const char* name, VexModuleStart start, VexModuleStop stop)
{
    std::lock_guard<std::mutex> guard(lock());
    modules().push_back(Module{name ? name : "", start, stop});
    return 1;
}

int vexInitialize(const char* /*name*/)
{
    std::lock_guard<std::mutex> guard(lock());
    for (const Module& m : modules()) {
        if (m.start) {
            int rc = m.start();
            if (rc != 0)
                return rc;
        }
    }
    return 0;
}

int vexTerminate(const char* /*name*/)
{
    std::lock_guard<std::mutex> guard(lock());
    for (auto it = modules().rbegin(); it != modules().rend(); ++it)
        if (it->stop)
            it->stop();
    return 0;
}
