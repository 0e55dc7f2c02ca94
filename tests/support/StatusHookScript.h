#ifndef SKARN_TEST_STATUS_HOOK_SCRIPT_H
#define SKARN_TEST_STATUS_HOOK_SCRIPT_H

#include "platform/crypto/VexCrypto.h"

#include <deque>
#include <map>
#include <mutex>
#include <string>

// Scripted answers of the secure-socket layer's status hook: per call name, a
// queue of statuses, then (optionally) one status for ever; every call is
// counted. The hook is process-wide and servers call the layer from their own
// threads, so answers are serialised and a late call never reaches a script
// that is gone.
struct StatusHookScript {
    std::map<std::string, std::deque<int>> queued;
    std::map<std::string, int> always;
    std::map<std::string, int> asked;

    static std::mutex& lock()
    {
        static std::mutex m;
        return m;
    }
    static StatusHookScript*& installed()
    {
        static StatusHookScript* current = nullptr;
        return current;
    }

    static bool answer(void* context, const char* call, QSM_HANDLE, int* status)
    {
        std::lock_guard<std::mutex> hold(lock());
        StatusHookScript* s = static_cast<StatusHookScript*>(context);
        if (s != installed())
            return false;
        ++s->asked[call];
        auto q = s->queued.find(call);
        if (q != s->queued.end() && !q->second.empty()) {
            *status = q->second.front();
            q->second.pop_front();
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
    explicit StatusHookInstalled(StatusHookScript& s)
    {
        std::lock_guard<std::mutex> hold(StatusHookScript::lock());
        StatusHookScript::installed() = &s;
        VexCrypto::setStatusHook(&StatusHookScript::answer, &s);
    }
    ~StatusHookInstalled()
    {
        std::lock_guard<std::mutex> hold(StatusHookScript::lock());
        StatusHookScript::installed() = nullptr;
        VexCrypto::setStatusHook(nullptr, nullptr);
    }
};

#endif
