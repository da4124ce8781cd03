#include "plugincalls.h"

#include "civetweb.h"
#include "civetweb_ext.h"
#include "redfishserver/pluginhost.h"

bool pluginTakesOverlappingCalls(RedfishModuleHandle module) {
    auto fn = reinterpret_cast<PluginCallsMayOverlapFn>(
        pluginSymbol(module, REDFISH_ENTRY_CALLS_MAY_OVERLAP));
    return fn != nullptr && fn() != 0;
}

CommandHandlerFn PluginCalls::entry(const char* name) const {
    return reinterpret_cast<CommandHandlerFn>(pluginSymbol(module_, name));
}

void PluginCalls::actAs(const std::string& userName, PrivilegeSet privileges) {
    setCaller_ =
        reinterpret_cast<SetCommandCallerFn>(pluginSymbol(module_, REDFISH_ENTRY_SET_CALLER));
    callerName_ = userName;
    callerPrivileges_ = privilegeNamesOf(privileges);
}

void PluginCalls::call(CommandHandlerFn fn, const std::string& uri, const std::string& body,
                       std::string& reply) {
    // The caller is named on the calling thread right before each call.
    auto invoke = [&] {
        if (setCaller_)
            setCaller_(callerName_.c_str(), callerPrivileges_.c_str());
        fn(uri.c_str(), body.c_str(), reply);
    };
    if (mayOverlap_ || lockHeld_ || held_) {
        invoke();
        return;
    }
    hold();
    try {
        invoke();
    } catch (...) {
        release();
        throw;
    }
    release();
}

std::string PluginCalls::read(const std::string& uri) {
    std::string reply;
    if (CommandHandlerFn get = entry(REDFISH_ENTRY_GET))
        call(get, uri, "{}", reply);
    return reply;
}

void PluginCalls::hold() {
    if (mayOverlap_ || lockHeld_ || held_)
        return;
    mg_global_lock();
    held_ = true;
}

void PluginCalls::release() {
    if (!held_)
        return;
    held_ = false;
    mg_global_unlock();
}
