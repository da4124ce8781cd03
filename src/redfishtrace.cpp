// Request and response trace records in the trace file. The layouts are read
// back by people and tools: every label is padded to 22 characters so the
// values start in column 25. Every text from a request or a reply is written
// with its control characters escaped, so a record keeps its six lines
// whatever a client sends.
#include "redfishtrace.h"

#include <cctype>
#include <string>

#include "Logger.h"
#include "logescape.h"
#include "passwordmask.h"
#include "answer/classichead.h"
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

// Whether masking could change `text`: a member can only be named "Password"
// when the word is there, in some letter case, or spelt with escapes. Bodies
// without either (nearly all) are written as they are, without a parse.
bool mayHoldPassword(const char* text) {
    static const char kWord[] = "password";
    const size_t wordLength = sizeof(kWord) - 1;
    for (const char* p = text; *p; ++p) {
        if (*p == '\\')
            return true;
        if (*p == 'p' || *p == 'P') {
            // The text's end stops the comparison: no letter matches '\0'.
            size_t i = 1;
            while (i < wordLength && std::tolower(static_cast<unsigned char>(p[i])) == kWord[i])
                ++i;
            if (i == wordLength)
                return true;
        }
    }
    return false;
}

} // namespace

void writeRequestTrace(const char* method, const char* uri, const char* arguments) {
    char stamp[48] = {0};
    Logger::GetTimeStamp(stamp);
    const int32_t thread = currentThreadId();
    const char* args = orEmpty(arguments);
    std::string masked;
    if (!*args) {
        args = "{}";
    } else if (mayHoldPassword(args)) {
        masked = maskPasswords(args);
        args = masked.c_str();
    }
    const logtext::Escaped methodText(orEmpty(method));
    const logtext::Escaped uriText(orEmpty(uri));
    const logtext::Escaped argumentsText(args);
    Logger::PrintLog(LOGGER_TRACE_RECORD, kRequestFormat, stamp, methodText.c_str(),
                     uriText.c_str(), argumentsText.c_str(), thread);
}

void writeResponseTrace(const char* method, int32_t status, const char* data) {
    char stamp[48] = {0};
    Logger::GetTimeStamp(stamp);
    const int32_t thread = currentThreadId();
    const logtext::Escaped methodText(orEmpty(method));
    const logtext::Escaped dataText(orEmpty(data));
    Logger::PrintLog(LOGGER_TRACE_RECORD, kResponseFormat, stamp, status, classicStatusText(status),
                     methodText.c_str(), dataText.c_str(), thread);
}
