// Replays the seeds and the kept crashes of the parse-budget fuzz target
// through its own checks, in every build: a failed check stops the process.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputsOf(const char* root) {
    std::vector<fs::path> inputs;
    const fs::path dir = fs::path(root) / "budget";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

} // namespace

TEST(FuzzRegressBudget, SeedsAndKeptInputsKeepTheBudgetAndMaskEveryPassword) {
    std::vector<fs::path> inputs = inputsOf(TOLVANE_FUZZ_CORPUS);
    const std::vector<fs::path> kept = inputsOf(TOLVANE_FUZZ_REGRESSIONS);
    inputs.insert(inputs.end(), kept.begin(), kept.end());
    ASSERT_FALSE(inputs.empty());
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.string());
        std::ifstream in(input, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        EXPECT_EQ(
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
            0);
    }
}
