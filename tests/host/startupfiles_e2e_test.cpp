// What a start leaves on disk: no upload from an earlier life of the process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "hoste2e.h"
#include "testsupport.h"

using namespace hoste2e;
namespace fs = std::filesystem;

namespace {

bool accepts(int port) {
    int fd = ts::connectLoopback(port, 1000);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
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
    ASSERT_TRUE(waitFor([&] { return accepts(tree.port) || !server.running(); }, 15000));
    ASSERT_TRUE(server.running()) << server.output();
    // Checked at the first moment the port accepts a connection.
    EXPECT_TRUE(fs::is_empty(uploads));
    EXPECT_EQ(ts::readFile(outside), "not an upload");
}

} // namespace
