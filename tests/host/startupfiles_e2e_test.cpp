// What a start leaves on disk: no upload from an earlier life of the process,
// and nothing the server creates readable by other users.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "hoste2e.h"
#include "testsupport.h"

using namespace hoste2e;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::set<std::string> pathsUnder(const std::string& root) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec))
        out.insert(it->path().string());
    return out;
}

TEST(StartupFiles, UploadsLeftByACrashAreGoneBeforeTheServerListens) {
    ts::InstallTree tree;
    const std::string uploads = tree.serverDir + "uploads/";
    const std::string outside = tree.root + "outside.txt";
    fs::create_directories(uploads);
    ts::writeFile(uploads + "fw.bin", "IMAGE LEFT BY A CRASH");
    ts::writeFile(uploads + "backup.cfg", "{\"restore\":\"me\"}");
    ts::writeFile(outside, "not an upload");
    ASSERT_EQ(::symlink(outside.c_str(), (uploads + "link.cfg").c_str()), 0);

    ts::ServerProcess server(tree);
    ASSERT_TRUE(ts::waitUntil(
        [&] { return ts::Connection(tree.port).connected() || !server.running(); }, 15000));
    ASSERT_TRUE(server.running()) << server.output();
    // Checked at the first moment the port accepts a connection.
    EXPECT_TRUE(fs::is_empty(uploads));
    EXPECT_EQ(ts::readFile(outside), "not an upload");
}

TEST(StartupFiles, NothingTheServerCreatesIsWorldReadableUnderAnOpenUmask) {
    ts::InstallOptions o;
    o.tls = true;
    o.certificate = false;
    o.debugMask = 5;
    ts::InstallTree tree(o);
    ts::removeTree(tree.logDir);
    const std::set<std::string> before = pathsUnder(tree.root);

    const mode_t saved = ::umask(0);
    ts::ServerProcess server(tree);
    ::umask(saved);
    ASSERT_TRUE(server.waitReady()) << server.output();
    EXPECT_EQ(ts::request(tree.port, "GET", "/redfish/v1/Systems", {}, "", true).status, 401);
    server.stop(); // files are checked once the server has ended

    EXPECT_EQ(modeOf(tree.logDir), 0750u);
    EXPECT_EQ(modeOf(tree.serverDir + "uploads"), 0750u);
    std::set<std::string> created;
    for (const std::string& path : pathsUnder(tree.root)) {
        // The test's own capture of the console is not the server's.
        if (!before.count(path) && fs::path(path).filename().string().rfind("process-output-", 0))
            created.insert(path);
    }
    EXPECT_TRUE(created.count(tree.logDir + "RedfishServer.out.log"));
    EXPECT_TRUE(created.count(tree.logDir + "WebServer.log"));
    for (const std::string& path : created)
        EXPECT_EQ(modeOf(path) & 07, 0u) << path << " is " << std::oct << modeOf(path);
}

} // namespace
