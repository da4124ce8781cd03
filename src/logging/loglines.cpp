#include "logging/loglines.h"

const char* LogLevelName(int level) {
    switch (level) {
    case 0:
        return "ERROR";
    case 1:
        return "INFO";
    case 4:
        return "TRACE";
    default:
        return "DEBUG";
    }
}
