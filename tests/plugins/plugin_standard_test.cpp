// What standard Redfish clients and validators expect of the resource
// plug-in: the DMTF roles, types that fit their URIs, described OEM
// extensions, account ETags and event subscriptions.
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "delivery.h"
#include "pluginharness.h"
#include "service.h"
#include "testsupport.h"

using namespace plugintest;
namespace plugin = tolvane::plugin;

namespace {

const std::string kRoles = "/redfish/v1/AccountService/Roles/";
const std::string kAccounts = "/redfish/v1/AccountService/Accounts";

std::string messageId(const Call& c) {
    return c.data["error"]["@Message.ExtendedInfo"][0].value("MessageId", "");
}

class PluginStandard : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin.initialize()); }
    LoadedPlugin plugin;
};

} // namespace

TEST_F(PluginStandard, StandardReadOnlyRoleIsOfferedAndAssignable) {
    const struct {
        const char* role;
        std::vector<std::string> privileges;
    } roles[] = {{"ReadOnly", {"Login", "ConfigureSelf"}},
                 {"ReadOnlyUser", {"Login", "ConfigureSelf"}},
                 {"OSUser", {"Login", "ConfigureComponents"}}};
    for (const auto& row : roles) {
        Call role = plugin.get(kRoles + row.role);
        ASSERT_EQ(role.status, 200) << row.role;
        EXPECT_EQ(role.data["AssignedPrivileges"].get<std::vector<std::string>>(), row.privileges);
    }
    Call created = plugin.post(
        kAccounts, {{"UserName", "reader"}, {"Password", "reader-pass-1"}, {"RoleId", "ReadOnly"}});
    ASSERT_EQ(created.status, 201) << created.text;
    EXPECT_EQ(plugin.login("reader", "reader-pass-1").reply["response"]["Data"]["Role"],
              kRoles + "ReadOnly");
}

TEST_F(PluginStandard, ResetsAndLampsChangeWhatTheHostShows) {
    const std::string system = "/redfish/v1/Systems/1", manager = "/redfish/v1/Managers/1";
    const std::string reset = system + "/Actions/ComputerSystem.Reset";
    const std::string chassis = "/redfish/v1/Chassis/1", drive = chassis + "/Drives/3";
    // A request (POST to an action, else PATCH) and a member a GET shows after it.
    const struct {
        std::string uri;
        Json body;
        int status;
        std::string shown;
        const char* member;
        Json value;
    } rows[] = {
        {reset, {{"ResetType", "ForceOff"}}, 200, system, "PowerState", "Off"},
        {reset, {{"ResetType", "GracefulRestart"}}, 200, system, "PowerState", "On"},
        {reset, {{"ResetType", "GracefulShutdown"}}, 200, system, "PowerState", "Off"},
        {reset, {{"ResetType", "Nmi"}}, 400, system, "PowerState", "Off"},
        {reset, {{"ResetType", "On"}, {"Delay", 1}}, 400, system, "PowerState", "Off"},
        {reset, {{"ResetType", "On"}}, 200, system, "PowerState", "On"},
        {manager + "/Actions/Manager.Reset",
         {{"ResetType", "On"}},
         400,
         system,
         "PowerState",
         "On"},
        {chassis, {{"IndicatorLED", "Blinking"}}, 200, chassis, "LocationIndicatorActive", true},
        {chassis, {{"LocationIndicatorActive", false}}, 200, chassis, "IndicatorLED", "Off"},
        {chassis, {{"LocationIndicatorActive", true}}, 200, chassis, "IndicatorLED", "Lit"},
        {chassis,
         {{"IndicatorLED", "Off"}, {"LocationIndicatorActive", true}},
         400,
         chassis,
         "IndicatorLED",
         "Lit"},
        {chassis, {{"ChassisType", "Rack"}}, 400, chassis, "ChassisType", "RackMount"},
        {drive,
         {{"IndicatorLED", "Blinking"}, {"LocationIndicatorActive", true}},
         200,
         drive,
         "IndicatorLED",
         "Blinking"},
        {drive, {{"IndicatorLED", "Purple"}}, 400, drive, "LocationIndicatorActive", true},
        {drive, {{"IndicatorLED", "Off"}}, 200, drive, "LocationIndicatorActive", false},
    };
    for (const auto& row : rows) {
        const bool action = row.uri.find("/Actions/") != std::string::npos;
        Call c = action ? plugin.post(row.uri, row.body) : plugin.patch(row.uri, row.body);
        EXPECT_EQ(c.status, row.status) << row.body.dump() << " -> " << c.text;
        EXPECT_EQ(plugin.get(row.shown).data[row.member], row.value) << row.body.dump();
    }
    const Json offered = plugin.get(system).data["Actions"]["#ComputerSystem.Reset"];
    EXPECT_EQ(offered["target"], reset);
    EXPECT_EQ(offered["ResetType@Redfish.AllowableValues"], plugin::kSystemResetTypes);
    const Json managerReset = plugin.get(manager).data["Actions"]["#Manager.Reset"];
    EXPECT_EQ(plugin.post(managerReset["target"], {{"ResetType", "ForceRestart"}}).status, 200);
}

TEST_F(PluginStandard, AccountServicePolicyIsCheckedKeptAndApplied) {
    const std::string service = "/redfish/v1/AccountService";
    const struct {
        Json body;
        int status;
        const char* messageId;
    } rows[] = {
        {{{"MinPasswordLength", 12}, {"AccountLockoutThreshold", 2}}, 200, ""},
        {{{"MinPasswordLength", 4}}, 400, "PropertyValueOutOfRange"},
        {{{"MaxPasswordLength", 10}}, 400, "PropertyValueConflict"},
        {{{"AccountLockoutThreshold", -1}}, 400, "PropertyValueOutOfRange"},
        {{{"AccountLockoutDuration", "60"}}, 400, "PropertyValueTypeError"},
        {{{"AccountLockoutCounterResetAfter", 120}}, 400, "PropertyValueConflict"},
        {{{"ServiceEnabled", false}}, 400, "PropertyNotWritable"},
        {Json::object(), 400, "NoOperation"},
    };
    for (const auto& row : rows) {
        Call c = plugin.patch(service, row.body);
        EXPECT_EQ(c.status, row.status) << row.body.dump();
        EXPECT_NE(c.status < 400 ? 0 : messageId(c).find(row.messageId), std::string::npos)
            << c.text;
    }
    plugin.uninitialize();
    ASSERT_TRUE(plugin.initialize());
    EXPECT_EQ(plugin.get(service).data["MinPasswordLength"], 12);
    Json account = {{"UserName", "guarded"}, {"RoleId", "Operator"}, {"Password", "eleven-char"}};
    EXPECT_EQ(plugin.post(kAccounts, account).status, 400);
    account["Password"] = "twelve-chars";
    ASSERT_EQ(plugin.post(kAccounts, account).status, 201);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(plugin.login("guarded", "wrong-password").status, 401);
    EXPECT_EQ(plugin.login("guarded", "twelve-chars").status, 401); // locked after two
}

TEST_F(PluginStandard, StorageSystemsCarriesTheTypeThatAllowsItsUri) {
    Call systems = plugin.get("/redfish/v1/StorageSystems");
    ASSERT_EQ(systems.status, 200);
    EXPECT_EQ(systems.data["@odata.type"], "#StorageSystemCollection.StorageSystemCollection");
    for (const auto& member : systems.data["Members"]) {
        Call system = plugin.get(member["@odata.id"].get<std::string>());
        EXPECT_EQ(system.data["HostingRoles"], Json::array({"StorageServer"}));
    }
}

namespace {

// Every resource reached from the top of the plug-in's tree by its links.
std::map<std::string, Json> wholeTree(LoadedPlugin& plugin) {
    std::map<std::string, Json> tree;
    tree["/redfish/v1"] = Json(); // the server's own document
    std::vector<std::string> queue = plugin.topLevelUris();
    while (!queue.empty()) {
        const std::string uri = queue.back();
        queue.pop_back();
        if (tree.count(uri))
            continue;
        tree[uri] = plugin.get(uri).data;
        std::vector<const Json*> values = {&tree[uri]};
        while (!values.empty()) {
            const Json* v = values.back();
            values.pop_back();
            for (auto it = v->begin(); v->is_structured() && it != v->end(); ++it) {
                if (v->is_object() && it.key() == "@odata.id" && it->is_string())
                    queue.push_back(it->get<std::string>());
                else
                    values.push_back(&*it);
            }
        }
    }
    return tree;
}

} // namespace

TEST_F(PluginStandard, OemObjectsAndActionsAreDescribedByTheServedOemSchema) {
    Call file = plugin.get("/redfish/v1/JsonSchemas/Veltrano");
    ASSERT_EQ(file.status, 200);
    Call schema = plugin.get(file.data["Location"][0]["Uri"].get<std::string>());
    ASSERT_EQ(schema.status, 200);
    const Json& definitions = schema.data["definitions"];
    // The CSDL as the reply's text, which the server sends as it is.
    Call csdl = plugin.get("/redfish/v1/JsonSchemas/Veltrano/Veltrano_v1.xml");
    ASSERT_TRUE(csdl.data.is_string()) << csdl.text;
    const std::string xml = csdl.data.get<std::string>();
    ASSERT_EQ(xml.rfind("<?xml", 0), 0u);
    ASSERT_NE(xml.find("Namespace=\"Veltrano.v1_0_0\""), std::string::npos);

    size_t objects = 0, actions = 0;
    for (const auto& [uri, payload] : wholeTree(plugin)) {
        if (payload.contains("Oem")) {
            for (const auto& [ns, object] : payload["Oem"].items()) {
                ++objects;
                const std::string type = object.value("@odata.type", "");
                ASSERT_EQ(type.rfind("#Veltrano.v1_0_0.", 0), 0u) << uri << " Oem/" << ns;
                const std::string name = type.substr(type.rfind('.') + 1);
                EXPECT_TRUE(definitions.contains(name)) << type;
                EXPECT_NE(xml.find("<ComplexType Name=\"" + name + "\""), std::string::npos);
            }
        }
        if (payload.contains("Actions") && payload["Actions"].contains("Oem")) {
            for (const auto& [key, action] : payload["Actions"]["Oem"].items()) {
                ++actions;
                const std::string name = key.substr(std::string("#Veltrano.").size());
                EXPECT_TRUE(definitions.contains(name)) << key;
                EXPECT_NE(xml.find("<Action Name=\"" + name + "\""), std::string::npos) << key;
            }
        }
    }
    EXPECT_GE(objects, 2u);
    EXPECT_EQ(actions, 5u);
    // A client may send an OEM object back as it read it.
    Json oem = plugin.get(kAccounts + "/1").data["Oem"];
    oem["Veltrano"]["OSPrivilegeLevel"] = "Operator";
    EXPECT_EQ(plugin.patch(kAccounts + "/1", {{"Oem", oem}}).status, 200);
}

TEST_F(PluginStandard, AccountEtagChangesWithEveryChangeOfTheAccount) {
    Call created = plugin.post(
        kAccounts, {{"UserName", "etaguser"}, {"Password", "etag-pass-1"}, {"RoleId", "Operator"}});
    ASSERT_EQ(created.status, 201);
    const std::string uri = created.data["@odata.id"];
    std::set<std::string> seen = {created.data.value("@odata.etag", "")};
    const std::string first = *seen.begin();
    ASSERT_TRUE(first.size() > 2 && first.front() == '"' && first.back() == '"') << first;
    EXPECT_EQ(plugin.get(uri).data["@odata.etag"], first); // unchanged: the same tag
    const Json changes[] = {{{"RoleId", "ReadOnly"}},
                            {{"Enabled", false}},
                            {{"Password", "etag-pass-2"}},
                            {{"Password", "etag-pass-2"}}, // the same password, anew
                            {{"UserName", "etaguser2"}},
                            {{"Oem", {{"Veltrano", {{"OSPrivilegeLevel", "Operator"}}}}}}};
    for (const auto& change : changes) {
        ASSERT_EQ(plugin.patch(uri, change).status, 200) << change.dump();
        const std::string tag = plugin.get(uri).data["@odata.etag"];
        EXPECT_TRUE(seen.insert(tag).second) << change.dump() << " kept " << tag;
    }
}

namespace {

// A subscriber on a free loopback port: keeps every POSTed body and answers
// 200, or, told to hang, takes the request and never answers.
class Subscriber : public ts::CannedServer {
  public:
    explicit Subscriber(bool answer = true)
        : ts::CannedServer([answer](int, const std::string&) -> std::optional<std::string> {
              if (!answer)
                  return std::nullopt;
              return std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
          }) {}
    std::string url() const { return ts::CannedServer::url("/events"); }
    // The bodies once `count` requests came in (fewer after 20 s).
    std::vector<Json> waitFor(size_t count) {
        ts::waitUntil([&] { return requests().size() >= count; }, 20000);
        std::vector<Json> bodies;
        for (const std::string& request : requests())
            bodies.push_back(Json::parse(ts::parseResponse(request).body, nullptr, false));
        return bodies;
    }
};

const std::string kSubscriptions = "/redfish/v1/EventService/Subscriptions";
const std::string kVolumes = "/redfish/v1/Systems/1/Storage/1/Volumes";

} // namespace

TEST_F(PluginStandard, SubscriptionsAreCheckedKeptAndDeleted) {
    const Json good = {{"Destination", "https://192.0.2.5/events"},
                       {"Protocol", "Redfish"},
                       {"Context", "ctx"},
                       {"RegistryPrefixes", {"ResourceEvent"}},
                       {"ResourceTypes", {"Volume"}},
                       {"VerifyCertificate", true}};
    const struct {
        const char* change;
        Json value;
        const char* messageId;
    } refused[] = {
        {"Destination", "ftp://192.0.2.5/x", "PropertyValueFormatError"},
        {"Destination", "http://", "PropertyValueFormatError"},
        {"Destination", "http://user:pw@host/x", "PropertyValueFormatError"},
        {"Destination", "http://host/a b", "PropertyValueFormatError"},
        {"Destination", nullptr, "PropertyMissing"},
        {"Protocol", "FTP", "PropertyValueNotInList"},
        {"Protocol", nullptr, "PropertyMissing"},
        {"Context", 5, "PropertyValueTypeError"},
        {"HttpHeaders", Json::array(), "PropertyUnknown"},
        {"EventTypes", {"Nonsense"}, "PropertyValueNotInList"},
        {"RegistryPrefixes", {"Base"}, "PropertyValueNotInList"},
        {"ResourceTypes", "Drive", "PropertyValueTypeError"},
        {"VerifyCertificate", "yes", "PropertyValueTypeError"},
        {"ExcludeRegistryPrefixes", {"Base"}, "PropertyValueNotInList"},
        {"ExcludeMessageIds", {"ResourceEvent.NoSuchMessage"}, "PropertyValueNotInList"},
    };
    for (const auto& row : refused) {
        Json body = good;
        if (row.value.is_null())
            body.erase(row.change);
        else
            body[row.change] = row.value;
        Call c = plugin.post(kSubscriptions, body);
        EXPECT_EQ(c.status, 400) << body.dump();
        EXPECT_NE(messageId(c).find(row.messageId), std::string::npos) << body.dump();
    }
    Call created = plugin.post(kSubscriptions, good);
    ASSERT_EQ(created.status, 201) << created.text;
    const std::string uri = created.data["@odata.id"];
    // Kept across a restart of the plug-in.
    plugin.uninitialize();
    ASSERT_TRUE(plugin.initialize());
    EXPECT_EQ(plugin.get(kSubscriptions).data["Members"], Json::array({{{"@odata.id", uri}}}));
    Call member = plugin.get(uri);
    EXPECT_EQ(member.data["Destination"], good["Destination"]);
    EXPECT_EQ(member.data["Context"], "ctx");
    EXPECT_EQ(member.data["ResourceTypes"], good["ResourceTypes"]);
    EXPECT_EQ(member.data["VerifyCertificate"], true);
    EXPECT_EQ(plugin.del(uri).status, 200);
    EXPECT_EQ(plugin.get(uri).status, 404);
    EXPECT_EQ(plugin.get(kSubscriptions).data["Members"].size(), 0u);
}

TEST(PluginEvents, StorageChangesReachEverySubscriber) {
    struct TempDir {
        std::filesystem::path path = makeTempDir("tolvane-events");
        ~TempDir() { std::filesystem::remove_all(path); }
    } dir;
    plugin::PluginService service(plugin::PluginPaths::forServerDirectory(dir.path));
    std::ostringstream announcement;
    service.load(announcement);
    Subscriber subscriber, drivesOnly, notChanges;
    for (Subscriber* to : {&subscriber, &drivesOnly, &notChanges}) {
        Json body = {
            {"Destination", to->url()}, {"Protocol", "Redfish"}, {"Context", "storage-watch"}};
        if (to == &drivesOnly)
            body["ResourceTypes"] = {"Drive"};
        if (to == &notChanges)
            body["ExcludeMessageIds"] = {"ResourceEvent.ResourceChanged",
                                         "ResourceEvent.1.4.3.ResourceRemoved"};
        ASSERT_EQ(service.dispatch("POST", kSubscriptions, body.dump()).status, 201);
    }
    const Json volume = {
        {"RAIDType", "RAID1"},
        {"Links",
         {{"Drives", Json::array({Json{{"@odata.id", "/redfish/v1/Chassis/1/Drives/0"}},
                                  Json{{"@odata.id", "/redfish/v1/Chassis/1/Drives/1"}}})}}}};
    const std::string volumeUri = kVolumes + "/1";
    ASSERT_EQ(service.dispatch("POST", kVolumes, volume.dump()).status, 201);
    ASSERT_EQ(service.dispatch("PATCH", volumeUri, R"({"Name":"Renamed"})").status, 200);
    ASSERT_EQ(service.dispatch("DELETE", volumeUri, "{}").status, 200);
    {
        std::unique_lock<std::shared_mutex> lock(service.modelLock());
        service.changeStorage(
            [&] { service.storage().controllers().front().drives[3].health = "Critical"; });
    }
    const std::string testEvent = "/redfish/v1/EventService/Actions/EventService.SubmitTestEvent";
    EXPECT_EQ(service.dispatch("POST", testEvent, R"({"Message":"no MessageId"})").status, 400);
    ASSERT_EQ(
        service
            .dispatch("POST", testEvent,
                      R"({"MessageId":"Base.1.22.1.Success","OriginOfCondition":"/redfish/v1"})")
            .status,
        200);
    const struct {
        const char* messageId;
        std::string origin;
    } expected[] = {
        {"ResourceEvent.1.4.3.ResourceCreated", volumeUri},
        {"ResourceEvent.1.4.3.ResourceChanged", volumeUri},
        {"ResourceEvent.1.4.3.ResourceRemoved", volumeUri},
        {"ResourceEvent.1.4.3.ResourceStatusChangedCritical", "/redfish/v1/Chassis/1/Drives/3"},
        {"Base.1.22.1.Success", "/redfish/v1"}}; // the test event goes to everyone
    const std::vector<Json> events = subscriber.waitFor(std::size(expected));
    ASSERT_EQ(events.size(), std::size(expected));
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i]["@odata.type"], "#Event.v1_13_0.Event");
        EXPECT_EQ(events[i]["Context"], "storage-watch");
        const Json& record = events[i]["Events"][0];
        EXPECT_EQ(record["MessageId"], expected[i].messageId);
        EXPECT_EQ(record["OriginOfCondition"]["@odata.id"], expected[i].origin);
    }
    const std::vector<Json> drives = drivesOnly.waitFor(2);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0]["Events"][0]["MessageId"], expected[3].messageId);
    EXPECT_EQ(drives[1]["Events"][0]["MessageId"], expected[4].messageId);
    const std::vector<Json> rest = notChanges.waitFor(3);
    ASSERT_EQ(rest.size(), 3u);
    for (size_t i : {0, 1, 2})
        EXPECT_EQ(rest[i]["Events"][0]["MessageId"], expected[i == 0 ? 0 : i + 2].messageId);
}

TEST(PluginEvents, AFailedDeliveryIsLoggedWithItsReason) {
    plugin::DeliveryPolicy policy;
    policy.attempts = 1;
    plugin::EventDelivery delivery(plugin::PluginLog(captureLog), policy);
    // Nobody listens on a free port.
    ASSERT_TRUE(
        delivery.enqueue("http://127.0.0.1:" + std::to_string(ts::freePort()) + "/events", "{}"));
    const std::string lines = waitForLog("dropped");
    EXPECT_NE(lines.find("dropped after 1 attempt(s): Couldn't connect"), std::string::npos)
        << lines;
}

TEST(PluginEvents, HangingSubscriberNeitherBlocksNorGrowsTheQueue) {
    Subscriber hanging(false);
    plugin::DeliveryPolicy policy;
    policy.maxQueued = 2;
    policy.attempts = 1;
    // Longer than the test may take: waiting for the attempt fails the test.
    policy.attemptTimeoutMs = 3600 * 1000;
    auto delivery = std::make_unique<plugin::EventDelivery>(plugin::PluginLog(), policy);
    ASSERT_TRUE(delivery->enqueue(hanging.url(), "{}"));
    hanging.waitFor(1); // the worker is now stuck in its first delivery
    EXPECT_TRUE(delivery->enqueue(hanging.url(), "{}"));
    EXPECT_TRUE(delivery->enqueue(hanging.url(), "{}"));
    EXPECT_FALSE(delivery->enqueue(hanging.url(), "{}")); // full: dropped, not waited for
    delivery.reset();                                     // cuts the hanging attempt short
}
