// The time stamp of trace records and of the HTTP engine's information lines.
#ifndef TOLVANE_TIMESTAMP_H
#define TOLVANE_TIMESTAMP_H

#include <cstddef>
#include <ctime>

// Largest time stamp text, terminating zero included, that callers provide.
constexpr size_t kTimeStampBufferSize = 48;

// Writes `when` as "%s %s %d %d:%d:%d UTC %d" in universal time: weekday and
// month as three-letter English names, no zero padding ("Sun Dec 6 16:2:5 UTC
// 2026"). An empty text when the time cannot be broken down.
void formatTimeStamp(std::time_t when, char* buffer, size_t size);

#endif
