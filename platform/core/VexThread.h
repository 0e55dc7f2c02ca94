#ifndef VEX_THREAD_H
#define VEX_THREAD_H

#include "SkarnExport.h"

// Thread helpers. sleep() goes through a replaceable function so that tests of
// retry loops (connect attempts two seconds apart) need not wait for real.
class SKARN_EXPORT VexThread {
public:
    typedef void (*SleepFunction)(int seconds);

    static void sleep(int seconds);

    // Replaces the sleep of sleep(); null restores the real one. Returns the previous one.
    static SleepFunction setSleepFunction(SleepFunction f);
};

#endif
