#include "hostheader.h"

std::string hostNameFromHostHeader(std::string_view value) {
    const size_t close = value.find(']');
    if (!value.empty() && value[0] == '[' && close != std::string_view::npos) {
        // A bracketed IPv6 address holds colons of its own.
        return std::string(value.substr(0, close + 1));
    }
    return std::string(value.substr(0, value.find(':')));
}
