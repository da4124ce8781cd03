// Long operations as Redfish tasks. A request that starts one is answered at
// once with 202 and the task's monitor; the work is simulated: it takes a
// time proportional to its size at a configured rate, and its effect on the
// model is applied when that time is up. One worker thread sleeps until the
// next task is due and completes it; progress is worked out from the clock
// whenever it is read. A task that must first fetch something (an image from
// a URI) does that on a thread of its own. Finished tasks are kept for a
// while, their number bounded, and the table survives a restart: a task that
// was unfinished then ends in Exception, and what it had begun is undone.
#ifndef TOLVANE_PLUGIN_TASKS_H
#define TOLVANE_PLUGIN_TASKS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "json.h"
#include "router.h"

namespace tolvane::plugin {

class PluginService;

// The plug-in's settings for tasks and updates, read from the members of
// ServerConfiguration.json named in tasks.cpp (absent or unusable: these).
struct TaskSettings {
    double storageBytesPerSecond = 20e9; // erasing a drive, initialising a volume
    double imageBytesPerSecond = 1e6;    // flashing a firmware or microcode image
    // A volume at least this large is created as a task (its initialisation).
    uint64_t volumeTaskMinimumBytes = 2000000000000ULL;
    int64_t retentionSeconds = 3600; // a finished task is kept this long
    size_t maximumTasks = 32;
    // SimpleUpdate may fetch from loopback and link-local addresses.
    bool localImageSources = false;
    long downloadTimeoutSeconds = 300;

    static TaskSettings read(const std::filesystem::path& configFile);
};

// The URIs of the task service.
std::string taskUri(const std::string& id);
std::string taskMonitorUri(const std::string& id);

// What a task does. `complete` runs on the worker thread once the time is up,
// takes the model lock itself and gives the operation's final answer (a
// RedfishError it throws is the answer). `undo` lists steps that put the model
// back when the task ends without completing (cancelled, or cut off by a
// restart): {"Storage": id, "Volume": id, "UUID": uuid} removes a volume it
// created,
// {"Drive": id} gives a drive back its "Enabled" state.
struct TaskSpec {
    std::string name;
    Json payload = Json::object(); // the Task's "Payload"
    bool cancellable = true;
    std::vector<std::string> busy; // resources that refuse changes meanwhile
    std::string progressUri;       // the resource whose "Operations" shows it
    std::string operation;         // its operation type ("Initialize", "Sanitize")
    double seconds = 0;            // length of the simulated work
    // Optional first step on a thread of its own (a download): it reports its
    // progress (0 to 100) and returns the length of the work that follows; it
    // should give up soon once `stop` is set. It may always be cancelled.
    std::function<double(const std::atomic<bool>& stop, std::atomic<int>& percent)> prepare;
    std::function<Reply()> complete;
    Json undo = Json::array();
};

class TaskRunner {
  public:
    explicit TaskRunner(PluginService& service);
    // Stops the worker and every first step, which end without an answer; the
    // next start finds their tasks unfinished.
    ~TaskRunner();
    TaskRunner(const TaskRunner&) = delete;
    TaskRunner& operator=(const TaskRunner&) = delete;

    // Reads the settings and the task file; unfinished tasks end in Exception
    // with their steps undone. Called before any request; throws when the
    // model cannot be saved.
    void load();
    const TaskSettings& settings() const { return settings_; }

    // Starts a task for `caller`: the 202 answer. Throws 409 when a running
    // task keeps one of its resources busy, 503 when the table is full of
    // running tasks.
    Reply start(TaskSpec spec, const Caller& caller);
    // Forgets a task whose start was undone.
    void discard(const std::string& id);

    // A 409 for a change (any method but GET) of a resource a running task
    // works on, or of anything below it.
    std::optional<Reply> refuseWhileBusy(const std::string& method, const std::string& uri) const;
    // Adds the "Operations" of running tasks to a resource (or the members of
    // an expanded collection) in a GET answer.
    void showOperations(Reply& reply) const;
    // Whether a running task keeps `uri` busy.
    bool busy(const std::string& uri) const;

    // The task service's resources, as `caller` may see them: its own tasks,
    // or all with ConfigureManager; others' are not found.
    std::vector<std::string> visibleTasks(const Caller& caller) const;
    Reply task(const std::string& id, const Caller& caller) const;
    Reply monitor(const std::string& id, const Caller& caller) const;
    // DELETE of a task or its monitor: cancels a running task (405 when it
    // cannot be), removes a finished one.
    Reply remove(const std::string& id, const Caller& caller);

  private:
    struct Task;
    using Clock = std::chrono::steady_clock;

    Task* find(const std::string& id, const Caller& caller) const;
    Json payloadOf(const Task& t) const;
    int percentOf(const Task& t) const;
    void finish(Task& t, const std::string& state, Reply answer);
    void undo(const Json& steps);
    void prune();
    void save();
    void run();
    void runPrepare(std::shared_ptr<Task> t);

    PluginService& service_;
    TaskSettings settings_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::list<std::shared_ptr<Task>> tasks_; // oldest first
    uint64_t nextId_ = 1;
    bool stop_ = false;
    std::atomic<bool> stopping_{false};
    std::mutex saveMutex_;
    uint64_t saveSerial_ = 0;
    uint64_t savedSerial_ = 0;
    std::vector<std::pair<std::shared_ptr<Task>, std::thread>> preparers_;
    std::thread worker_; // started with the first task
};

// The long operations of the storage tree. Each is called by its handler with
// the model lock held alone and the request checked.
Reply startVolumeInitialize(PluginService& s, const Request& r, const std::string& volumeUri,
                            const std::string& uuid, uint64_t capacityBytes,
                            const std::string& initializeType);
Reply startDriveErase(PluginService& s, const Request& r, const std::string& driveId);
// A created volume at least as large as the settings say is answered as a
// task that initialises it; `created` is the handler's 201 answer.
Reply offerVolumeCreationAsTask(PluginService& s, const Request& r, Reply created);

// "@Redfish.OperationApplyTime" in a body: only "Immediate" is offered.
void checkApplyTime(const Json& body, const std::string& action);

} // namespace tolvane::plugin

#endif
