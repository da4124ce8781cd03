#include "logging/timestamp.h"

#include <cstdio>

#include "logging/logplatform.h"

void formatTimeStamp(std::time_t when, char* buffer, size_t size) {
    static const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (size == 0)
        return;
    std::tm tm{};
    if (!utcCalendar(when, tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 ||
        tm.tm_mon > 11) {
        buffer[0] = '\0';
        return;
    }
    std::snprintf(buffer, size, "%s %s %d %d:%d:%d UTC %d", kWeekdays[tm.tm_wday],
                  kMonths[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_year + 1900);
}
