// What clients do to the simulated host itself: reset (power) the system,
// reset the manager, and light the chassis lamp.
#include <algorithm>
#include <set>

#include "messages.h"
#include "service.h"
#include "storagevalidation.h"

namespace tolvane::plugin {

const std::vector<std::string> kSystemResetTypes = {
    "On",           "ForceOn",   "ForceOff", "GracefulShutdown", "GracefulRestart",
    "ForceRestart", "PowerCycle"};
const std::vector<std::string> kManagerResetTypes = {"GracefulRestart", "ForceRestart"};

namespace {

const std::string R = kRoot;

// The ResetType of a Reset action: one of `allowed`, else `fallback` when
// the client leaves the choice to the service.
std::string takeResetType(const Json& body, const std::string& action,
                          const std::vector<std::string>& allowed, const std::string& fallback) {
    std::string type = fallback;
    for (auto it = body.begin(); it != body.end(); ++it) {
        if (it.key().find('@') != std::string::npos)
            continue;
        if (it.key() != "ResetType")
            throw errors::actionParameterUnknown(action, it.key());
        if (!it.value().is_string())
            throw errors::actionParameterValueError("ResetType", action);
        type = it.value().get<std::string>();
        if (std::find(allowed.begin(), allowed.end(), type) == allowed.end())
            throw errors::actionParameterValueNotInList(type, "ResetType", action);
    }
    return type;
}

} // namespace

void addHostActions(Router& router, PluginService& service) {
    PluginService* s = &service;

    // The host powers off through the shutdowns and on through every other
    // kind of reset; a restart of a host that is off starts it.
    router.add("POST", "Systems/{system}/Actions/ComputerSystem.Reset", [s](const Request& r) {
        requireId(r.param("system"), kSystemId, "ComputerSystem");
        const std::string type =
            takeResetType(r.body(), "ComputerSystem.Reset", kSystemResetTypes, "GracefulRestart");
        return s->changeStorage([&] {
            HostState& host = s->storage().host();
            const std::string was = host.powerState;
            host.powerState = type == "ForceOff" || type == "GracefulShutdown" ? "Off" : "On";
            s->log().debug("ResetSystem", type + ": power " + was + " -> " + host.powerState);
            return Reply::ok(successPayload());
        });
    });

    // The manager is this service: its reset restarts nothing but is told.
    router.add("POST", "Managers/{manager}/Actions/Manager.Reset", [s](const Request& r) {
        requireId(r.param("manager"), kManagerId, "Manager");
        const std::string type =
            takeResetType(r.body(), "Manager.Reset", kManagerResetTypes, "GracefulRestart");
        s->storage().host().managerResetAt = s->now();
        s->log().debug("ResetManager", type + " requested");
        return Reply::ok(successPayload());
    });

    router.add("PATCH", "Chassis/{chassis}", [s](const Request& r) {
        requireId(r.param("chassis"), kChassisId, "Chassis");
        static const std::set<std::string> readOnly = {
            "Id",     "Name",  "ChassisType", "Manufacturer", "Status",
            "Drives", "Links", "Description", "Actions",      "Oem"};
        const Json& body = r.body();
        const Json* led = nullptr;
        const Json* lamp = nullptr;
        for (auto it = body.begin(); it != body.end(); ++it) {
            if (it.key().find('@') != std::string::npos)
                continue;
            if (it.key() == "IndicatorLED")
                led = &it.value();
            else if (it.key() == "LocationIndicatorActive")
                lamp = &it.value();
            else if (readOnly.count(it.key()))
                throw errors::propertyNotWritable(it.key());
            else
                throw errors::propertyUnknown(it.key());
        }
        if (!led && !lamp)
            throw errors::noOperation();
        return s->changeStorage([&] {
            HostState& host = s->storage().host();
            host.chassisIndicatorLed = takeIndicator(host.chassisIndicatorLed, led, lamp);
            return Reply::ok(chassisPayload(*s));
        });
    });
}

} // namespace tolvane::plugin
