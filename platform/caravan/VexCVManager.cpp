#include "platform/caravan/VexCVManager.h"

namespace {

std::map<std::string, std::string>& threadTable()
{
    thread_local std::map<std::string, std::string> table;
    return table;
}

}  // namespace

VexCVManager& VexCVManager::getInstance()
{
    static VexCVManager instance;
    return instance;
}

void VexCVManager::loadHeaders(const std::map<std::string, std::string>& headers)
{
    std::map<std::string, std::string>& t = threadTable();
    t.clear();
    std::size_t kept = 0;
    for (const auto& h : headers) {
        if (h.first.size() <= 2 || h.first.compare(0, 2, "x-") != 0)
            continue;
        // The texts and what a table entry costs besides them.
        std::size_t size = h.first.size() + h.second.size() + 96;
        if (size > KEEP_BYTES - kept)
            continue;
        kept += size;
        t.insert(h);
    }
}

const char* VexCVManager::getHeader(const char* name) const
{
    if (!name)
        return nullptr;
    auto it = threadTable().find(name);
    return it == threadTable().end() ? nullptr : it->second.c_str();
}

void VexCVManager::clear() { threadTable().clear(); }
