#include "redfishserver/keptfile.h"

#include <filesystem>
#include <fstream>
#include <system_error>

bool replaceKeptFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc | std::ios::binary);
        out << text;
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec)
        std::filesystem::remove(temporary, ec);
    return !ec;
}
