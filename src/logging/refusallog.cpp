#include "logging/refusallog.h"

#include <ctime>

#include "logging/linebudget.h"
#include "logging/logclip.h"
#include "logging/loglines.h"

namespace {

const char* const kFn = "logRefusal";

logtext::LineBudget& refusalBudget() {
    static logtext::LineBudget budget(5, 60, 60, 4096);
    return budget;
}

} // namespace

void logRefusal(const std::string& address, int status, const std::string& uri) {
    if (!gLogFunction)
        return;
    const logtext::LineBudget::Verdict verdict =
        refusalBudget().admit(address, static_cast<int64_t>(std::time(nullptr)));
    if (!verdict.write)
        return;
    if (verdict.suppressed > 0)
        REDFISH_LOG(kFn, LOG_LEVEL_INFO, "%llu more refusals to %s not logged",
                    static_cast<unsigned long long>(verdict.suppressed), address.c_str());
    if (verdict.suppressedOthers > 0)
        REDFISH_LOG(kFn, LOG_LEVEL_INFO, "%llu refusals to other addresses not logged",
                    static_cast<unsigned long long>(verdict.suppressedOthers));
    REDFISH_LOG(kFn, LOG_LEVEL_INFO, "Refused %d to %s: %s", status, address.c_str(),
                logtext::Clipped(uri).c_str());
}
