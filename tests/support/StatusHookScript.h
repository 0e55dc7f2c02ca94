#ifndef SKARN_TEST_STATUS_HOOK_SCRIPT_H
#define SKARN_TEST_STATUS_HOOK_SCRIPT_H

#include "platform/crypto/VexCrypto.h"

#include <deque>
#include <map>
#include <string>

// Scripted answers of the secure-socket layer's status hook: per call name, a
// queue of statuses, then (optionally) one status for ever; every call is
// counted. A queued kPass lets that one call through to the layer.
struct StatusHookScript {
    static constexpr int kPass = 9999;
    std::map<std::string, std::deque<int>> queued;
    std::map<std::string, int> always;
    std::map<std::string, int> asked;

    static bool answer(void* context, const char* call, QSM_HANDLE, int* status)
    {
        StatusHookScript* s = static_cast<StatusHookScript*>(context);
        ++s->asked[call];
        auto q = s->queued.find(call);
        if (q != s->queued.end() && !q->second.empty()) {
            const int next = q->second.front();
            q->second.pop_front();
            if (next == kPass)
                return false;
            *status = next;
            return true;
        }
        auto a = s->always.find(call);
        if (a == s->always.end())
            return false;
        *status = a->second;
        return true;
    }
};

// Installs the script as the layer's status hook for the life of the object.
struct StatusHookInstalled {
    explicit StatusHookInstalled(StatusHookScript& s) { VexCrypto::setStatusHook(&StatusHookScript::answer, &s); }
    ~StatusHookInstalled() { VexCrypto::setStatusHook(nullptr, nullptr); }
};

#endif
