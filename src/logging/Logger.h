// The trace-file writer (exported for plug-ins) and the log-line level names.
#ifndef TOLVANE_LOGGER_H
#define TOLVANE_LOGGER_H

#include <cstdarg>
#include <cstdint>
#include <string>

// Record kinds; 0..4 are filtered by the level mask, others always written.
enum EnumLoggerType : int {
    LOGGER_TRACE_RECORD = 0,
    LOGGER_TYPE_1 = 1,
    LOGGER_TYPE_2 = 2,
    LOGGER_TYPE_3 = 3,
    LOGGER_TYPE_4 = 4,
};

class Logger {
  public:
    // Takes RedfishDebugMask, rollingSize and rollingCount from ServerConfig.
    static void Configure();
    static std::string GetLogDirectory();
    static void SetLogFilePath();
    static void SetDebugLevel(int32_t level);
    static void SetRollingSize(int32_t size);
    static void SetRollingCount(int32_t count);
    static bool FileExists(const std::string& path);
    // Renames `path` to the first of "<path>.1" .. "<path>.<count>" that does
    // not exist: 1 when renamed, 0 when every name is taken, -1 when the
    // rename failed. The roll-over rule of the trace file and WebServer.log.
    static int RollToFreeCopy(const std::string& path, int32_t count);
    // The size past which a log rolls over: rollingSize in units of 100 bytes.
    static int64_t RollingLimitBytes();
    // Appends one record to the trace file, exactly as formatted; rolls the
    // file over into numbered copies past the configured size. Exported for
    // plug-ins under both declarations of the kind, the enumeration and the
    // plain integer, so a plug-in built against either one links.
    static void PrintLog(EnumLoggerType type, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    static void PrintLog(int type, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // "%s %s %d %d:%d:%d UTC %d" in UTC; `buffer` holds at least 48 bytes.
    static void GetTimeStamp(char* buffer);

    // Read access for tests and diagnostics.
    static std::string LogFilePath();
    static uint32_t LevelMask();
    static int32_t RollingSize();
    static int32_t RollingCount();

  private:
    // The body of both PrintLog declarations; `args` is used up.
    static void PrintLogV(int type, const char* format, va_list args);
};

// "ERROR" for 0, "INFO" for 1, "TRACE" for 4, "DEBUG" for anything else.
const char* LogLevelName(int level);

#endif
