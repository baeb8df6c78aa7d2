#pragma once
// Included after QtTest by the tests that use QTRY_ (not forced on every source: the simulator's
// headers, which know no Qt, must come before Qt's `emit` macro).
//
// Qt 6.8's QTRY_IMPL takes the timeout as std::chrono::milliseconds and then keeps its count (a
// long) in two int variables, qt_test_step and qt_test_timeoutValue, without a cast. The macro is
// expanded in our file, so -Wconversion reports it there, once for each QTRY_ we write. Here is
// the same macro with those two conversions written out; what the test passes in is still
// checked as before. Qt 6.4's QTRY_IMPL takes an int and needs nothing.
#include <QtTest/qtestcase.h>

#include <chrono>

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0) && QT_VERSION < QT_VERSION_CHECK(6, 9, 0)
#undef QTRY_IMPL
// clang-format off
#define QTRY_IMPL(expr, timeoutAsGiven) \
    const auto qt_test_timeoutAsMs = [&] { \
            using namespace std::chrono_literals; \
            return std::chrono::milliseconds{timeoutAsGiven}; \
        }(); \
    const int qt_test_step = qt_test_timeoutAsMs.count() < 350 \
        ? static_cast<int>(qt_test_timeoutAsMs.count() / 7 + 1) : 50; \
    const int qt_test_timeoutValue = static_cast<int>(qt_test_timeoutAsMs.count()); \
    { QTRY_LOOP_IMPL(expr, qt_test_timeoutValue, qt_test_step) } \
    QTRY_TIMEOUT_DEBUG_IMPL(expr, qt_test_timeoutValue, qt_test_step)
// clang-format on
#endif
