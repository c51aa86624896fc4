#pragma once
// The POSIX calls the tests make that Windows spells differently: setenv, unsetenv and timegm. Included by a
// test that uses them; on POSIX systems it adds nothing. Also the skip of a test that Windows cannot run.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <cstdlib>
#include <cstring>
#include <ctime>

// The C runtime's own environment, which getenv and the time-zone functions read.
inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name)) return 0;
    const int rc = _putenv_s(name, value);
    if (std::strcmp(name, "TZ") == 0) _tzset();
    return rc;
}

inline int unsetenv(const char* name) {
    const int rc = _putenv_s(name, "");
    if (std::strcmp(name, "TZ") == 0) _tzset();
    return rc;
}

inline time_t timegm(std::tm* tm) {
    return _mkgmtime(tm);
}
#endif

// Skips the rest of a test on Windows, saying why: for what Windows has no counterpart to (symbolic links
// need a privilege ordinary accounts lack there, and Wine cannot make them). The README lists these tests.
#ifdef _WIN32
#define TANDREL_SKIP_ON_WINDOWS(why) GTEST_SKIP() << (why)
#else
#define TANDREL_SKIP_ON_WINDOWS(why) static_cast<void>(0)
#endif
