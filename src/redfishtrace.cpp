// Request and response trace records in the trace file. The layouts are read
// back by people and tools: every label is padded to 22 characters so the
// values start in column 25.
#include "redfishtrace.h"

#include <string>

#include "Logger.h"
#include "passwordmask.h"
#include "redfishserverhandler.h"
#include "logplatform.h"

namespace {

const char* const kRequestFormat = "Request Time          : %s\n"
                                   "HTTP Method           : %s\n"
                                   "Request URL           : %s\n"
                                   "Request Arguments     : %s\n"
                                   "Request Thread        : %d\n"
                                   "                      \n";

const char* const kResponseFormat =
    "Response Time         : %s\n"
    "Response HTTP Status  : %d, %s\n"
    "HTTP Method           : %s\n"
    "Response Data         : %s\n"
    "Response Thread       : %d\n"
    "================================================================================\n";

const char* orEmpty(const char* s) {
    return s ? s : "";
}

} // namespace

void writeRequestTrace(const char* method, const char* uri, const char* arguments) {
    char stamp[48] = {0};
    Logger::GetTimeStamp(stamp);
    const int32_t thread = currentThreadId();
    std::string args = orEmpty(arguments);
    args = args.empty() ? std::string("{}") : maskPasswords(args);
    Logger::PrintLog(LOGGER_TRACE_RECORD, kRequestFormat, stamp, orEmpty(method), orEmpty(uri),
                     args.c_str(), thread);
}

void writeResponseTrace(const char* method, int32_t status, const char* data) {
    char stamp[48] = {0};
    Logger::GetTimeStamp(stamp);
    const int32_t thread = currentThreadId();
    Logger::PrintLog(LOGGER_TRACE_RECORD, kResponseFormat, stamp, status,
                     RedfishServerHandler::getStatusText(status), orEmpty(method), orEmpty(data),
                     thread);
}
