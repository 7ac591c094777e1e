// Tests that run on both systems: the Linux build and the Windows build,
// whose test programs run under Wine. A case that can only mean something on
// one system starts with one of these lines and is reported as skipped, with
// its reason, on the other:
//     PALM_SKIP_ON_WINDOWS("no /dev/full; WriteErrorIsReportedAtClose covers it");
// The rest of the case must still compile on both systems.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#define PALM_SKIP_ON_WINDOWS(reason) GTEST_SKIP() << "not on Windows: " << (reason)
#define PALM_SKIP_ON_LINUX(reason) static_cast<void>(0)
#else
#define PALM_SKIP_ON_WINDOWS(reason) static_cast<void>(0)
#define PALM_SKIP_ON_LINUX(reason) GTEST_SKIP() << "not on Linux: " << (reason)
#endif
