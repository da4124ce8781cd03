#include "protocol/requestrules.h"

#include <string_view>

#include "civetweb.h"
#include "civetweb_ext.h"
#include "gate/redfisherrors.h"
#include "postrules.h"
#include "protocol/protocolprofile.h"

bool refuseUnsupportedODataVersion(struct mg_connection* conn) {
    if (!profileRules().checksODataVersion)
        return false;
    const char* version = mg_get_header(conn, "OData-Version");
    if (!version || std::string(version) == kODataVersion)
        return false;
    writeErrorAnswer(conn, 412, redfisherror::headerInvalid("OData-Version"));
    return true;
}

std::string postTargetOf(const std::string& path) {
    if (!profileRules().membersPathIsCollection)
        return path;
    std::string trimmed = path;
    if (!trimmed.empty() && trimmed.back() == '/')
        trimmed.pop_back();
    const std::string suffix = "/Members";
    if (trimmed.size() > suffix.size() &&
        trimmed.compare(trimmed.size() - suffix.size(), suffix.size(), suffix) == 0)
        return trimmed.substr(0, trimmed.size() - suffix.size());
    return path;
}

namespace {

// Calls `each(name, value)` for every parameter of `query` that names an
// OData option ("$name" or "%24name").
template <typename Each> void eachODataOption(const char* query, Each each) {
    std::string_view rest = query ? query : "";
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string_view item = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        const size_t equals = item.find('=');
        std::string_view name = item.substr(0, equals);
        if (name.rfind("%24", 0) == 0)
            name = name.substr(3);
        else if (!name.empty() && name.front() == '$')
            name = name.substr(1);
        else
            continue;
        each(std::string(item.substr(0, equals)), std::string(name),
             equals == std::string_view::npos ? std::string()
                                              : std::string(item.substr(equals + 1)));
    }
}

bool isCount(const std::string& value) {
    return !value.empty() && value.size() <= 9 &&
           value.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::string unsupportedQueryOption(const char* query) {
    static const char* const kTaken[] = {"expand", "top", "skip"};
    std::string unsupported;
    eachODataOption(query,
                    [&](const std::string& written, const std::string& name, const std::string&) {
                        bool taken = false;
                        for (const char* option : kTaken)
                            taken = taken || equalsIgnoreCase(name, option);
                        if (!taken && unsupported.empty())
                            unsupported = written;
                    });
    return unsupported;
}

std::pair<std::string, std::string> badPagingOption(const char* query) {
    std::pair<std::string, std::string> bad;
    eachODataOption(
        query, [&](const std::string& written, const std::string& name, const std::string& value) {
            const bool paging = equalsIgnoreCase(name, "top") || equalsIgnoreCase(name, "skip");
            if (paging && !isCount(value) && bad.first.empty())
                bad = {written, value};
        });
    return bad;
}

std::string forwardedQuery(const char* query) {
    if (!profileRules().pagesCollections) {
        if (!query || !*query || mg_strcasestr("Members", query) != nullptr)
            return "";
        return "?$expand=Members";
    }
    std::string expand, paging;
    eachODataOption(query, [&](const std::string&, const std::string& name,
                               const std::string& value) {
        if (equalsIgnoreCase(name, "expand"))
            expand = "$expand=Members";
        else if ((equalsIgnoreCase(name, "top") || equalsIgnoreCase(name, "skip")) &&
                 isCount(value))
            paging +=
                "&$" + std::string(equalsIgnoreCase(name, "top") ? "top" : "skip") + "=" + value;
    });
    std::string forwarded = expand + paging;
    if (!forwarded.empty() && forwarded.front() == '&')
        forwarded.erase(0, 1);
    return forwarded.empty() ? "" : "?" + forwarded;
}
