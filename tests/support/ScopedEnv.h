#ifndef SKARN_TEST_SCOPED_ENV_H
#define SKARN_TEST_SCOPED_ENV_H

#include <cstdlib>
#include <string>

// Sets (or, with a null value, removes) an environment variable for the life
// of the object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
            m_had = true;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv()
    {
        if (m_had)
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name, m_old;
    bool m_had = false;
};

#endif
