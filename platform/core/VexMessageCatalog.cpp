#include "platform/core/VexMessageCatalog.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <unordered_map>

// Where an installed library finds share/skarn: set by the build from the
// install folders (lib/x86_64-linux-gnu needs one more "..").
#ifndef SKARN_CATALOGUE_FROM_LIBRARY
#define SKARN_CATALOGUE_FROM_LIBRARY "../share/skarn"
#endif

namespace {

struct Catalog {
    std::string path;
    std::unordered_map<unsigned int, std::string> texts;
};

std::mutex g_lock;
std::map<std::string, Catalog>& catalogs()
{
    static std::map<std::string, Catalog> all;
    return all;
}

bool readable(const std::string& path)
{
    std::ifstream in(path);
    return in.good();
}

std::string moduleDirectory()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) == 0 || !info.dli_fname)
        return std::string();
    std::string path = info.dli_fname;
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

Catalog load(const std::string& file)
{
    Catalog c;
    c.path = VexMessageCatalog::locate(file);
    if (c.path.empty())
        return c;
    std::ifstream in(c.path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        char* end = nullptr;
        unsigned long number = std::strtoul(line.c_str(), &end, 10);
        if (end == line.c_str())
            continue;
        std::string::size_type at = static_cast<std::string::size_type>(end - line.c_str());
        at = line.find_first_not_of(" \t", at);
        c.texts[static_cast<unsigned int>(number)] = at == std::string::npos ? std::string() : line.substr(at);
    }
    return c;
}

}  // namespace

std::string VexMessageCatalog::locate(const std::string& file)
{
    std::vector<std::string> dirs;
    if (const char* home = std::getenv("SKARN_HOME")) {
        dirs.push_back(std::string(home));
        dirs.push_back(std::string(home) + "/share/skarn");
    }
    std::string module = moduleDirectory();
    if (!module.empty()) {
        dirs.push_back(module);
        dirs.push_back(module + "/" SKARN_CATALOGUE_FROM_LIBRARY);
    }
    for (const std::string& dir : dirs) {
        std::string path = dir + "/" + file;
        if (readable(path))
            return path;
    }
    return std::string();
}

bool VexMessageCatalog::lookup(const std::string& file, unsigned int number, std::string& text)
{
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = catalogs().find(file);
    if (it == catalogs().end())
        it = catalogs().emplace(file, load(file)).first;
    auto found = it->second.texts.find(number);
    if (found == it->second.texts.end())
        return false;
    text = found->second;
    return true;
}

std::string VexMessageCatalog::substitute(const std::string& pattern, const std::vector<I18NString>& parms)
{
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            char n = pattern[i + 1];
            if (n == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (n >= '1' && n <= '9') {
                std::size_t index = static_cast<std::size_t>(n - '1');
                if (index < parms.size())
                    out += parms[index].str();
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}
