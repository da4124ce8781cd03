// A private temporary directory per test, removed afterwards.
#ifndef TOLVANE_TESTS_CONFIG_SCRATCHDIR_H
#define TOLVANE_TESTS_CONFIG_SCRATCHDIR_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tolvane-unit-XXXXXX").string();
        if (!mkdtemp(&pattern[0]))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern + "/";
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Ends with '/'.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

inline void writeText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#endif
