// A plug-in built against either declaration of Logger::PrintLog loads into
// the real program: the program exports both linker names, and the record
// the plug-in writes at its start lands in the trace file.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "testsupport.h"

namespace {

struct KindCase {
    const char* name;
    const char* plugin;
    const char* record;
};

void PrintTo(const KindCase& kind, std::ostream* os) {
    *os << kind.name;
}

class PrintLogAbi : public ::testing::TestWithParam<KindCase> {};

TEST_P(PrintLogAbi, PluginBuiltAgainstThisDeclarationLoadsAndWritesThroughTheProgram) {
    ts::InstallOptions options;
    options.resourcePlugin = GetParam().plugin;
    ts::InstallTree tree(options);
    ts::ServerProcess server(tree, {"run"});
    ASSERT_TRUE(server.waitReady()) << server.output();
    EXPECT_NE(tree.traceLog().find(GetParam().record), std::string::npos) << tree.traceLog();
}

INSTANTIATE_TEST_SUITE_P(Declarations, PrintLogAbi,
                         ::testing::Values(KindCase{"EnumLoggerType", TOLVANE_ENUM_KIND_PLUGIN,
                                                    "kind plug-in (enum) linked: a%20b 1.15"},
                                           KindCase{"Int", TOLVANE_INT_KIND_PLUGIN,
                                                    "kind plug-in (int) linked: a%20b 1.15"}),
                         [](const ::testing::TestParamInfo<KindCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
