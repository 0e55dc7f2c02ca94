#include "MimeBoundary.h"

#include <cstdio>
#include <random>

std::string MimeBoundary::choose(const std::vector<const std::string*>& parts)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    for (;;) {
        char text[40];
        std::snprintf(text, sizeof text, "=_skarn_%016llx_=", static_cast<unsigned long long>(random()));
        const std::string delimiter = std::string("--") + text;
        bool clash = false;
        for (const std::string* part : parts)
            clash = clash || part->find(delimiter) != std::string::npos;
        if (!clash)
            return text;
    }
}
