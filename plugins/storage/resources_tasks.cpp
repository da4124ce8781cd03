// The task service: the tasks the caller may see, each task's monitor, and
// DELETE of either to cancel a running task or forget a finished one.
#include "payloads.h"
#include "service.h"

namespace tolvane::plugin {

void addTaskResources(Router& router, PluginService& service) {
    PluginService* s = &service;
    const std::string base = std::string(kRoot) + "/TaskService";

    router.add("GET", "TaskService", [s, base](const Request&) {
        Json j = resource(base, "#TaskService.v1_3_0.TaskService", "TaskService", "Task Service");
        j["ServiceEnabled"] = true;
        j["CompletedTaskOverWritePolicy"] = "Oldest";
        j["LifeCycleEventOnTaskStateChange"] = false;
        const int64_t retention = s->tasks().settings().retentionSeconds;
        j["TaskAutoDeleteTimeoutMinutes"] = (retention + 59) / 60;
        j["TaskMonitorAutoExpirySeconds"] = retention;
        j["DateTime"] = utcTimeText(s->now());
        j["Status"] = status("Enabled", "OK");
        j["Tasks"] = link(base + "/Tasks");
        return Reply::ok(j);
    });
    router.add("GET", "TaskService/Tasks", [s, base](const Request& r) {
        return Reply::ok(collection(base + "/Tasks", "#TaskCollection.TaskCollection",
                                    "Task Collection", s->tasks().visibleTasks(r.caller)));
    });
    router.add("GET", "TaskService/Tasks/{task}",
               [s](const Request& r) { return s->tasks().task(r.param("task"), r.caller); });
    router.add("GET", "TaskService/TaskMonitors/{task}",
               [s](const Request& r) { return s->tasks().monitor(r.param("task"), r.caller); });
    // Cancelling puts the model back, which takes the model lock itself.
    for (const char* pattern : {"TaskService/Tasks/{task}", "TaskService/TaskMonitors/{task}"})
        router.add("DELETE", pattern, Access::Own,
                   [s](const Request& r) { return s->tasks().remove(r.param("task"), r.caller); });
}

} // namespace tolvane::plugin
