// The one place the resource plug-in is called from: every call of a request
// goes through its PluginCalls, which keeps the plug-in's promise of one call
// at a time unless the plug-in has said that its calls may overlap.
#ifndef TOLVANE_PLUGINCALLS_H
#define TOLVANE_PLUGINCALLS_H

#include <string>

#include "RedfishPlugin.h"
#include "session/privileges.h"

// Whether the module exports REDFISH_ENTRY_CALLS_MAY_OVERLAP and it returns
// non-zero.
bool pluginTakesOverlappingCalls(RedfishModuleHandle module);

// One request's calls into the plug-in. For a plug-in without overlapping
// calls each call runs under the process-wide lock (mg_global_lock); hold()
// keeps that lock across several calls and what must stay atomic with them,
// until release() or the end of the object. Nothing is written to a client
// while the lock is held.
class PluginCalls {
  public:
    // `lockHeld`: the caller runs under the process-wide lock already.
    PluginCalls(RedfishModuleHandle module, bool mayOverlap, bool lockHeld = false)
        : module_(module), mayOverlap_(mayOverlap), lockHeld_(lockHeld) {}
    ~PluginCalls() { release(); }
    PluginCalls(const PluginCalls&) = delete;
    PluginCalls& operator=(const PluginCalls&) = delete;

    // The entry point `name`, or null when the plug-in has none.
    CommandHandlerFn entry(const char* name) const;
    // Calls `fn` (which must not be null).
    void call(CommandHandlerFn fn, const std::string& uri, const std::string& body,
              std::string& reply);
    // The plug-in's GET reply for `uri` ("" without a GET entry point).
    std::string read(const std::string& uri);
    // Every later call is made on behalf of this account (the plug-in's
    // setCommandCaller, when it has one).
    void actAs(const std::string& userName, PrivilegeSet privileges);

    void hold();
    void release();
    bool mayOverlap() const { return mayOverlap_; }

  private:
    RedfishModuleHandle module_;
    bool mayOverlap_;
    bool lockHeld_;
    bool held_ = false;
    SetCommandCallerFn setCaller_ = nullptr;
    std::string callerName_;
    std::string callerPrivileges_;
};

#endif
