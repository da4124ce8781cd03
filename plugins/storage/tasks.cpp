#include "tasks.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <shared_mutex>

#include "messages.h"
#include "payloads.h"
#include "persistence.h"
#include "service.h"

namespace tolvane::plugin {

namespace {

const std::string kTaskService = std::string(kRoot) + "/TaskService";

// Members of ServerConfiguration.json the plug-in reads, with their ranges.
struct NumberSetting {
    const char* key;
    double minimum;
    double maximum;
    std::function<void(TaskSettings&, double)> apply;
};

const NumberSetting kNumberSettings[] = {
    {"TaskStorageBytesPerSecond", 1, 1e18,
     [](TaskSettings& s, double v) { s.storageBytesPerSecond = v; }},
    {"TaskImageBytesPerSecond", 1, 1e18,
     [](TaskSettings& s, double v) { s.imageBytesPerSecond = v; }},
    {"TaskVolumeCreationMinimumBytes", 0, 1e18,
     [](TaskSettings& s, double v) { s.volumeTaskMinimumBytes = static_cast<uint64_t>(v); }},
    {"TaskRetentionSeconds", 1, 1e9,
     [](TaskSettings& s, double v) { s.retentionSeconds = static_cast<int64_t>(v); }},
    {"UpdateServiceDownloadTimeoutSeconds", 1, 3600,
     [](TaskSettings& s, double v) { s.downloadTimeoutSeconds = static_cast<long>(v); }},
};
const char* const kLocalSourcesSetting = "UpdateServiceLocalImageSources";

bool finishedState(const std::string& state) {
    return state == "Completed" || state == "Exception" || state == "Cancelled" ||
           state == "Killed";
}

std::string durationText(double seconds) {
    return "PT" + std::to_string(static_cast<long long>(std::ceil(std::max(0.0, seconds)))) + "S";
}

Json applyTimeSupport() {
    return Json{{"@odata.type", "#Settings.v1_4_0.OperationApplyTimeSupport"},
                {"SupportedValues", Json::array({"Immediate"})}};
}

// The Task's "Payload" of a request: its method, target and body, without
// what the server added to the body.
Json requestPayload(const Request& r, Json body) {
    if (body.is_object()) {
        body.erase("absoluteFilePath");
        body.erase("logFilePath");
    }
    Json payload = Json{{"HttpOperation", r.method}, {"TargetUri", r.path}};
    const std::string text = body.dump();
    if (text.size() <= 4096) // a longer body is left out rather than cut
        payload["JsonBody"] = text;
    return payload;
}

double workSeconds(double bytes, double bytesPerSecond) {
    return bytesPerSecond > 0 ? bytes / bytesPerSecond : 0;
}

} // namespace

std::string taskUri(const std::string& id) {
    return kTaskService + "/Tasks/" + id;
}

std::string taskMonitorUri(const std::string& id) {
    return kTaskService + "/TaskMonitors/" + id;
}

TaskSettings TaskSettings::read(const std::filesystem::path& configFile) {
    TaskSettings settings;
    const LoadedJson loaded = loadJsonFile(configFile);
    if (loaded.status != LoadedJson::Status::Loaded || !loaded.value.is_object())
        return settings;
    const Json& config = loaded.value;
    for (const NumberSetting& setting : kNumberSettings) {
        auto it = config.find(setting.key);
        if (it == config.end() || !it->is_number())
            continue;
        const double value = it->get<double>();
        if (value >= setting.minimum && value <= setting.maximum)
            setting.apply(settings, value);
    }
    auto local = config.find(kLocalSourcesSetting);
    if (local != config.end() && local->is_boolean())
        settings.localImageSources = local->get<bool>();
    return settings;
}

struct TaskRunner::Task {
    std::string id;
    std::string name;
    std::string owner;
    std::string state = "Running";
    std::string status; // TaskStatus, once finished
    Json messages = Json::array();
    Json payload = Json::object();
    int64_t startTime = 0;
    int64_t endTime = 0;
    int finalPercent = 0;
    bool cancellable = true;
    std::vector<std::string> busy;
    std::string progressUri;
    std::string operation;
    double seconds = 0;
    bool hasPrepare = false;
    bool preparing = false;
    bool timed = false;
    bool completing = false;
    Clock::time_point timedStart;
    std::atomic<int> preparePercent{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> prepared{false}; // its first step's thread has ended
    std::function<double(const std::atomic<bool>&, std::atomic<int>&)> prepare;
    std::function<Reply()> complete;
    Json undo = Json::array();
    // The operation's answer once finished.
    int answerStatus = 0;
    Json answerBody;
    std::vector<std::pair<std::string, std::string>> answerHeaders;

    bool finished() const { return finishedState(state); }
    // A first step may always be stopped; the simulated work when the
    // operation allows it, until its result is being applied.
    friend bool cancellable(const Task& t) {
        return t.state == "Running" && (t.preparing || (t.cancellable && !t.completing));
    }
    friend RedfishError busyWith(const Task& t) {
        return errors::resourceInUse().withDetail("Task " + t.id + " (" + taskUri(t.id) +
                                                  ") works on it.");
    }
    // Seconds a client should wait before it asks again.
    friend std::string retryAfter(const Task& t) {
        double wait = 1;
        if (t.timed)
            wait =
                std::chrono::duration<double>(t.due() - std::chrono::steady_clock::now()).count();
        return std::to_string(std::clamp(static_cast<long>(std::ceil(wait)), 1L, 10L));
    }
    Clock::time_point due() const {
        return timedStart +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }
};

TaskRunner::TaskRunner(PluginService& service) : service_(service) {}

TaskRunner::~TaskRunner() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        for (auto& t : tasks_)
            t->stop = true;
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
    for (auto& [task, thread] : preparers_)
        thread.join();
}

void TaskRunner::load() {
    settings_ = TaskSettings::read(service_.paths().configFile);
    const auto& file = service_.paths().tasksFile;
    LoadedJson loaded = loadJsonFile(file);
    Json undoSteps = Json::array();
    try {
        if (loaded.status == LoadedJson::Status::Loaded) {
            const Json& state = loaded.value;
            if (!state.is_object() || state.value("Format", "") != "Tolvane-Tasks")
                throw std::runtime_error("not a task file");
            nextId_ = state.at("NextId").get<uint64_t>();
            for (const Json& j : state.at("Tasks")) {
                auto t = std::make_shared<Task>();
                t->id = j.at("Id").get<std::string>();
                t->name = j.at("Name").get<std::string>();
                t->owner = j.at("Owner").get<std::string>();
                t->state = j.at("TaskState").get<std::string>();
                t->status = j.value("TaskStatus", "");
                t->messages = j.at("Messages");
                t->payload = j.at("Payload");
                t->startTime = j.at("StartTime").get<int64_t>();
                t->endTime = j.value("EndTime", int64_t{0});
                t->finalPercent = j.value("PercentComplete", 0);
                t->undo = j.value("Undo", Json::array());
                t->answerStatus = j.value("AnswerStatus", 0);
                t->answerBody = j.value("AnswerBody", Json());
                const Json headers = j.value("AnswerHeaders", Json::object());
                for (auto it = headers.begin(); it != headers.end(); ++it)
                    t->answerHeaders.emplace_back(it.key(), it.value().get<std::string>());
                if (!t->finished()) {
                    // Cut off by the end of the service: what it began is undone.
                    for (const Json& step : t->undo)
                        undoSteps.push_back(step);
                    RedfishError e = errors::serviceShuttingDown();
                    t->completing = true;
                    finish(*t, "Exception", Reply::error(e.status(), e.payload()));
                }
                tasks_.push_back(t);
            }
        } else if (loaded.status == LoadedJson::Status::Unreadable) {
            throw std::runtime_error(loaded.problem);
        }
    } catch (const std::exception& e) {
        tasks_.clear();
        undoSteps = Json::array();
        const auto aside = moveAside(file);
        service_.log().error("TaskRunner::load", std::string("task file unusable (") + e.what() +
                                                     "), moved to " + aside.string());
    }
    undo(undoSteps);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        prune();
    }
    save();
}

void TaskRunner::undo(const Json& steps) {
    if (steps.empty())
        return;
    std::unique_lock<std::shared_mutex> writing(service_.modelLock());
    service_.changeStorage([&] {
        for (const Json& step : steps) {
            if (step.contains("Drive")) {
                for (Controller& c : service_.storage().controllers()) {
                    Drive* d = c.drive(step["Drive"].get<std::string>());
                    if (d && d->state == "Updating")
                        d->state = "Enabled";
                }
            } else if (step.contains("Volume")) {
                Controller* c = service_.storage().controller(step.value("Storage", ""));
                const std::string id = step["Volume"].get<std::string>();
                const std::string uuid = step.value("UUID", "");
                if (c)
                    c->volumes.erase(std::remove_if(c->volumes.begin(), c->volumes.end(),
                                                    [&](const Volume& v) {
                                                        return v.id == id && v.uuid == uuid;
                                                    }),
                                     c->volumes.end());
            }
        }
    });
}

void TaskRunner::finish(Task& t, const std::string& state, Reply answer) {
    t.finalPercent = state == "Completed" ? 100 : percentOf(t);
    t.state = state;
    t.endTime = service_.now();
    t.completing = false;
    t.preparing = t.timed = false;
    t.prepare = nullptr;
    t.complete = nullptr;
    if (state == "Completed") {
        t.status = "OK";
        t.messages = Json::array({makeTaskMessage("TaskCompletedOK", t.id)});
    } else if (state == "Cancelled") {
        t.status = "Warning";
        t.messages = Json::array({makeTaskMessage("TaskCancelled", t.id)});
    } else {
        t.status = "Critical";
        t.messages = Json::array({makeTaskMessage("TaskAborted", t.id)});
        if (answer.data.contains("error"))
            for (const Json& m : answer.data["error"].value("@Message.ExtendedInfo", Json::array()))
                t.messages.push_back(m);
    }
    t.answerStatus = answer.status;
    t.answerBody = std::move(answer.data);
    t.answerHeaders = std::move(answer.headers);
}

void TaskRunner::prune() {
    const int64_t now = service_.now();
    tasks_.remove_if([&](const std::shared_ptr<Task>& t) {
        return t->finished() && t->endTime + settings_.retentionSeconds <= now;
    });
    while (tasks_.size() > settings_.maximumTasks) {
        auto oldest = std::find_if(tasks_.begin(), tasks_.end(),
                                   [](const std::shared_ptr<Task>& t) { return t->finished(); });
        if (oldest == tasks_.end())
            break;
        tasks_.erase(oldest);
    }
}

void TaskRunner::save() {
    Json snapshot = Json::object();
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot["Format"] = "Tolvane-Tasks";
        snapshot["NextId"] = nextId_;
        Json list = Json::array();
        for (const auto& t : tasks_) {
            Json j = Json{{"Id", t->id},
                          {"Name", t->name},
                          {"Owner", t->owner},
                          {"TaskState", t->state},
                          {"Messages", t->messages},
                          {"Payload", t->payload},
                          {"StartTime", t->startTime},
                          {"PercentComplete", t->finished() ? t->finalPercent : percentOf(*t)},
                          {"Undo", t->undo}};
            if (t->finished()) {
                j["TaskStatus"] = t->status;
                j["EndTime"] = t->endTime;
                j["AnswerStatus"] = t->answerStatus;
                j["AnswerBody"] = t->answerBody;
                for (const auto& [name, value] : t->answerHeaders)
                    j["AnswerHeaders"][name] = value;
            }
            list.push_back(std::move(j));
        }
        snapshot["Tasks"] = std::move(list);
        serial = ++saveSerial_;
    }
    // Writes take turns; one that lost the race to a newer table is dropped.
    std::lock_guard<std::mutex> saving(saveMutex_);
    if (serial < savedSerial_)
        return;
    try {
        saveJsonFile(service_.paths().tasksFile, snapshot);
        savedSerial_ = serial;
    } catch (const std::exception& e) {
        // The tasks go on; only their record after a restart is older.
        service_.log().error("TaskRunner::save", e.what());
    }
}

int TaskRunner::percentOf(const Task& t) const {
    if (t.finished())
        return t.finalPercent;
    // A first step fills the first half, the simulated work the rest.
    const int base = t.hasPrepare ? 50 : 0;
    if (t.preparing)
        return std::clamp(t.preparePercent.load() / 2, 0, 49);
    if (!t.timed)
        return base;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t.timedStart).count();
    const double fraction = t.seconds > 0 ? elapsed / t.seconds : 1.0;
    return std::clamp(base + static_cast<int>(fraction * (100 - base)), base, 99);
}

Json TaskRunner::payloadOf(const Task& t) const {
    Json j = resource(taskUri(t.id), "#Task.v1_7_4.Task", t.id, t.name);
    j["TaskState"] = t.state;
    if (t.finished())
        j["TaskStatus"] = t.status;
    j["PercentComplete"] = percentOf(t);
    j["StartTime"] = utcTimeText(t.startTime);
    if (t.finished())
        j["EndTime"] = utcTimeText(t.endTime);
    else if (t.timed)
        j["EstimatedDuration"] = durationText(t.seconds);
    j["TaskMonitor"] = taskMonitorUri(t.id);
    j["HidePayload"] = false;
    j["Payload"] = t.payload;
    j["Messages"] = t.messages;
    return j;
}

TaskRunner::Task* TaskRunner::find(const std::string& id, const Caller& caller) const {
    const int64_t now = service_.now();
    for (const auto& t : tasks_) {
        if (t->id != id)
            continue;
        const bool expired = t->finished() && t->endTime + settings_.retentionSeconds <= now;
        const bool visible =
            caller.has("ConfigureManager") || sameUserName(t->owner, caller.userName);
        if (!expired && visible)
            return t.get();
    }
    return nullptr;
}

Reply TaskRunner::start(TaskSpec spec, const Caller& caller) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_)
        throw errors::serviceShuttingDown();
    prune();
    // One operation at a time on a resource.
    for (const auto& other : tasks_) {
        for (const std::string& b : spec.busy) {
            if (!other->finished() &&
                std::find(other->busy.begin(), other->busy.end(), b) != other->busy.end())
                throw busyWith(*other);
        }
    }
    if (tasks_.size() >= settings_.maximumTasks) {
        auto oldest = std::find_if(tasks_.begin(), tasks_.end(),
                                   [](const std::shared_ptr<Task>& t) { return t->finished(); });
        if (oldest == tasks_.end())
            throw errors::serviceUnavailable().withDetail("Too many tasks run at once.");
        tasks_.erase(oldest);
    }
    auto t = std::make_shared<Task>();
    t->id = std::to_string(nextId_++);
    t->name = spec.name;
    t->owner = caller.userName;
    t->payload = std::move(spec.payload);
    t->startTime = service_.now();
    t->messages = Json::array({makeTaskMessage("TaskStarted", t->id)});
    t->cancellable = spec.cancellable;
    t->busy = std::move(spec.busy);
    t->progressUri = std::move(spec.progressUri);
    t->operation = std::move(spec.operation);
    t->seconds = spec.seconds;
    t->complete = std::move(spec.complete);
    t->undo = std::move(spec.undo);
    t->hasPrepare = static_cast<bool>(spec.prepare);
    t->preparing = t->hasPrepare;
    t->prepare = std::move(spec.prepare);
    t->timed = !t->hasPrepare;
    t->timedStart = Clock::now();
    tasks_.push_back(t);
    if (!worker_.joinable())
        worker_ = std::thread(&TaskRunner::run, this);
    if (t->hasPrepare) {
        // Threads of first steps that have ended are joined as new ones start.
        for (auto it = preparers_.begin(); it != preparers_.end();) {
            if (!it->first->prepared) {
                ++it;
                continue;
            }
            it->second.join();
            it = preparers_.erase(it);
        }
        preparers_.emplace_back(t, std::thread(&TaskRunner::runPrepare, this, t));
    }
    wake_.notify_all();
    Reply reply = Reply::make(202, payloadOf(*t));
    reply.headers = {{"Location", taskMonitorUri(t->id)}, {"Retry-After", retryAfter(*t)}};
    lock.unlock();
    save();
    return reply;
}

void TaskRunner::discard(const std::string& id) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.remove_if([&](const std::shared_ptr<Task>& t) {
            if (t->id != id)
                return false;
            t->stop = true;
            t->state = "Killed"; // its thread, if any, finds it gone
            return true;
        });
    }
    save();
}

void TaskRunner::runPrepare(std::shared_ptr<Task> t) {
    struct Ended {
        std::atomic<bool>& flag;
        ~Ended() { flag = true; }
    } ended{t->prepared};
    double seconds = 0;
    std::optional<Reply> failure;
    try {
        seconds = t->prepare(t->stop, t->preparePercent);
    } catch (const RedfishError& e) {
        failure = Reply::error(e.status(), e.payload());
    } catch (const std::exception& e) {
        service_.log().error("TaskRunner::runPrepare", e.what());
        RedfishError error = errors::internalError();
        failure = Reply::error(error.status(), error.payload());
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_ || t->state != "Running" || !t->preparing)
        return; // cancelled or the service stops
    if (failure) {
        t->completing = true;
        t->preparing = false; // no longer to be cancelled
        const Json steps = t->undo;
        lock.unlock();
        undo(steps);
        lock.lock();
        finish(*t, "Exception", std::move(*failure));
        lock.unlock();
        save();
        return;
    }
    t->preparing = false;
    t->timed = true;
    t->seconds = seconds;
    t->timedStart = Clock::now();
    wake_.notify_all();
}

void TaskRunner::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        std::shared_ptr<Task> due;
        std::optional<Clock::time_point> next;
        const auto now = Clock::now();
        for (const auto& t : tasks_) {
            if (t->state != "Running" || !t->timed || t->completing)
                continue;
            if (t->due() <= now) {
                due = t;
                break;
            }
            if (!next || t->due() < *next)
                next = t->due();
        }
        if (!due) {
            if (next)
                wake_.wait_until(lock, *next);
            else
                wake_.wait(lock);
            continue;
        }
        due->completing = true;
        lock.unlock();
        Reply answer;
        try {
            answer = due->complete ? due->complete() : Reply::ok(successPayload());
        } catch (const RedfishError& e) {
            answer = Reply::error(e.status(), e.payload());
        } catch (const std::exception& e) {
            service_.log().error("TaskRunner::run", "task " + due->id + ": " + e.what());
            RedfishError error = errors::internalError();
            answer = Reply::error(error.status(), error.payload());
        }
        const bool completed = answer.status < 400;
        if (!completed) {
            try {
                undo(due->undo);
            } catch (const std::exception& e) {
                service_.log().error("TaskRunner::run", e.what());
            }
        }
        lock.lock();
        finish(*due, completed ? "Completed" : "Exception", std::move(answer));
        lock.unlock();
        save();
        lock.lock();
    }
}

std::optional<Reply> TaskRunner::refuseWhileBusy(const std::string& method,
                                                 const std::string& uri) const {
    if (method == "GET")
        return std::nullopt;
    const auto normal = Router::normalize(uri);
    if (!normal)
        return std::nullopt;
    const std::string& path = normal->first;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& t : tasks_) {
        if (t->finished())
            continue;
        for (const std::string& b : t->busy) {
            if (path == b || path.rfind(b + "/", 0) == 0) {
                const RedfishError e = busyWith(*t);
                return Reply::error(e.status(), e.payload());
            }
        }
    }
    return std::nullopt;
}

bool TaskRunner::busy(const std::string& uri) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(tasks_.begin(), tasks_.end(), [&](const std::shared_ptr<Task>& t) {
        return !t->finished() && std::find(t->busy.begin(), t->busy.end(), uri) != t->busy.end();
    });
}

void TaskRunner::showOperations(Reply& reply) const {
    if (reply.status != 200 || reply.kind != Reply::Kind::Plain || !reply.data.is_object())
        return;
    auto annotate = [this](Json& j) {
        if (!j.is_object() || !j.contains("@odata.type") || !j["@odata.type"].is_string())
            return;
        const std::string type = j["@odata.type"].get<std::string>();
        if (type == "#VolumeCollection.VolumeCollection")
            j["@Redfish.OperationApplyTimeSupport"] = applyTimeSupport();
        if (type.rfind("#Volume.", 0) == 0 && j.contains("Actions") &&
            j["Actions"].contains("#Volume.Initialize"))
            j["Actions"]["#Volume.Initialize"]["@Redfish.OperationApplyTimeSupport"] =
                applyTimeSupport();
        const std::string uri = j.value("@odata.id", "");
        Json operations = Json::array();
        for (const auto& t : tasks_) {
            if (t->finished() || t->completing || t->progressUri != uri)
                continue;
            Json op = Json{{"Operation", t->operation}, {"PercentageComplete", percentOf(*t)}};
            if (type.rfind("#Drive.", 0) == 0) // only drives link the task
                op["AssociatedTask"] = link(taskUri(t->id));
            operations.push_back(std::move(op));
        }
        if (!operations.empty())
            j["Operations"] = std::move(operations);
    };
    std::lock_guard<std::mutex> lock(mutex_);
    annotate(reply.data);
    if (reply.data.contains("Members") && reply.data["Members"].is_array())
        for (Json& member : reply.data["Members"])
            annotate(member);
}

std::vector<std::string> TaskRunner::visibleTasks(const Caller& caller) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> uris;
    for (const auto& t : tasks_) {
        if (find(t->id, caller))
            uris.push_back(taskUri(t->id));
    }
    return uris;
}

Reply TaskRunner::task(const std::string& id, const Caller& caller) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Task* t = find(id, caller);
    if (!t)
        throw errors::resourceNotFound("Task", id);
    return Reply::ok(payloadOf(*t));
}

Reply TaskRunner::monitor(const std::string& id, const Caller& caller) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Task* t = find(id, caller);
    // A cancelled operation has no answer: its monitor is gone.
    if (!t || t->state == "Cancelled")
        throw errors::resourceMissingAtUri(taskMonitorUri(id));
    if (t->finished()) {
        Reply answer = Reply::make(t->answerStatus, t->answerBody);
        answer.headers = t->answerHeaders;
        return answer;
    }
    Reply reply = Reply::make(202, payloadOf(*t));
    reply.headers = {{"Location", taskMonitorUri(id)},
                     {"Retry-After", retryAfter(*t)},
                     {"Allow", cancellable(*t) ? "GET, HEAD, DELETE" : "GET, HEAD"}};
    return reply;
}

Reply TaskRunner::remove(const std::string& id, const Caller& caller) {
    std::unique_lock<std::mutex> lock(mutex_);
    Task* t = find(id, caller);
    if (!t)
        throw errors::resourceNotFound("Task", id);
    if (t->finished()) {
        tasks_.remove_if([&](const std::shared_ptr<Task>& p) { return p.get() == t; });
        lock.unlock();
        save();
        return Reply::ok(successPayload());
    }
    if (!cancellable(*t))
        throw errors::operationNotAllowed().withDetail("Task " + id +
                                                       " cannot be cancelled at this stage.");
    t->stop = true;
    t->state = "Cancelling";
    const Json steps = t->undo;
    lock.unlock();
    try {
        undo(steps);
    } catch (...) {
        // Nothing was undone: the task goes on.
        std::lock_guard<std::mutex> relock(mutex_);
        t->stop = false;
        t->state = "Running";
        throw;
    }
    lock.lock();
    finish(*t, "Cancelled", Reply());
    Reply reply = Reply::ok(payloadOf(*t));
    lock.unlock();
    save();
    return reply;
}

void checkApplyTime(const Json& body, const std::string& action) {
    const char* name = "@Redfish.OperationApplyTime";
    if (!body.is_object() || !body.contains(name))
        return;
    const Json& value = body[name];
    if (value.is_string() && value.get<std::string>() == "Immediate")
        return;
    if (action.empty())
        throw errors::propertyValueNotInList(argumentText(value), name);
    throw errors::actionParameterValueNotInList(argumentText(value), name, action);
}

Reply startVolumeInitialize(PluginService& s, const Request& r, const std::string& volumeUri,
                            const std::string& uuid, uint64_t capacityBytes,
                            const std::string& initializeType) {
    checkApplyTime(r.body(), "Volume.Initialize");
    TaskSpec spec;
    spec.name = "Volume.Initialize of volume " + r.param("volume");
    spec.payload = requestPayload(r, r.body());
    spec.busy = {volumeUri};
    spec.progressUri = volumeUri;
    spec.operation = "Initialize";
    // A fast initialisation writes the metadata areas only.
    const double bytes = static_cast<double>(capacityBytes) / (initializeType == "Fast" ? 64 : 1);
    spec.seconds = workSeconds(bytes, s.tasks().settings().storageBytesPerSecond);
    PluginService* service = &s;
    const std::string storage = r.param("storage");
    const std::string volume = r.param("volume");
    spec.complete = [service, storage, volume, uuid] {
        std::shared_lock<std::shared_mutex> reading(service->modelLock());
        Controller* c = service->storage().controller(storage);
        Volume* v = c ? c->volume(volume) : nullptr;
        if (!v || v->uuid != uuid)
            throw errors::resourceNotFound("Volume", volume);
        return Reply::ok(successPayload());
    };
    return s.tasks().start(std::move(spec), r.caller);
}

Reply startDriveErase(PluginService& s, const Request& r, const std::string& driveId) {
    checkApplyTime(r.body(), "Drive.SecureErase");
    Controller& c = s.storage().controllers().front();
    Drive* d = c.drive(driveId);
    if (!d)
        throw errors::resourceNotFound("Drive", driveId);
    TaskSpec spec;
    spec.name = "Drive.SecureErase of drive " + driveId;
    spec.payload = requestPayload(r, r.body());
    spec.busy = {driveUri(driveId)};
    spec.progressUri = driveUri(driveId);
    spec.operation = "Sanitize";
    spec.seconds = workSeconds(static_cast<double>(d->capacityBytes),
                               s.tasks().settings().storageBytesPerSecond);
    spec.undo = Json::array({Json{{"Drive", driveId}}});
    PluginService* service = &s;
    spec.complete = [service, driveId] {
        std::unique_lock<std::shared_mutex> writing(service->modelLock());
        service->changeStorage([&] {
            for (Controller& each : service->storage().controllers()) {
                Drive* erased = each.drive(driveId);
                if (erased && erased->state == "Updating")
                    erased->state = "Enabled";
            }
        });
        service->log().debug("SecureErase", "drive " + driveId + " erased");
        return Reply::ok(successPayload());
    };
    Reply reply = s.tasks().start(std::move(spec), r.caller);
    // Until it is erased the drive is taken: no volume, no spare.
    try {
        s.changeStorage([&] { d->state = "Updating"; });
    } catch (...) {
        s.tasks().discard(reply.data["Id"].get<std::string>());
        throw;
    }
    return reply;
}

Reply offerVolumeCreationAsTask(PluginService& s, const Request& r, Reply created) {
    const uint64_t capacity = created.data.value("CapacityBytes", uint64_t{0});
    if (created.status != 201 || capacity < s.tasks().settings().volumeTaskMinimumBytes)
        return created;
    const std::string uri = created.data.value("@odata.id", "");
    const std::string storage = r.param("storage");
    const std::string volume = created.data.value("Id", "");
    Controller* c = s.storage().controller(storage);
    const Volume* v = c ? c->volume(volume) : nullptr;
    if (!v)
        return created;
    TaskSpec spec;
    spec.name = "Creation of volume " + volume;
    spec.payload = requestPayload(r, r.body());
    spec.busy = {uri};
    spec.progressUri = uri;
    spec.operation = "Initialize";
    // The new volume is initialised fast before it is handed over.
    spec.seconds =
        workSeconds(static_cast<double>(capacity) / 64, s.tasks().settings().storageBytesPerSecond);
    spec.undo = Json::array({Json{{"Storage", storage}, {"Volume", volume}, {"UUID", v->uuid}}});
    PluginService* service = &s;
    const std::string uuid = v->uuid;
    // Warnings the creation raised reach the client with the finished task.
    const Json warnings = created.data.value("@Message.ExtendedInfo", Json());
    spec.complete = [service, uri, storage, volume, uuid, warnings] {
        {
            std::shared_lock<std::shared_mutex> reading(service->modelLock());
            Controller* owner = service->storage().controller(storage);
            Volume* made = owner ? owner->volume(volume) : nullptr;
            if (!made || made->uuid != uuid)
                throw errors::resourceNotFound("Volume", volume);
        }
        Reply answer = service->dispatch("GET", uri, "{}");
        if (answer.status == 200) {
            answer.status = 201;
            answer.headers = {{"Location", uri}};
            if (!warnings.is_null())
                answer.data["@Message.ExtendedInfo"] = warnings;
        }
        return answer;
    };
    return s.tasks().start(std::move(spec), r.caller);
}

} // namespace tolvane::plugin
