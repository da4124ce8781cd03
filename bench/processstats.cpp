#include "processstats.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace bench {

namespace {

bool readWhole(const std::string& path, std::string& text) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

} // namespace

long long parseStatCpuTicks(const std::string& statText) {
    size_t close = statText.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream in(statText.substr(close + 1));
    std::vector<std::string> fields;
    std::string field;
    while (in >> field)
        fields.push_back(field);
    // Fields after the name start with the state (field 3); utime and stime
    // are fields 14 and 15.
    if (fields.size() < 13)
        return -1;
    char* end = nullptr;
    long long utime = std::strtoll(fields[11].c_str(), &end, 10);
    if (*end != '\0')
        return -1;
    long long stime = std::strtoll(fields[12].c_str(), &end, 10);
    if (*end != '\0')
        return -1;
    return utime + stime;
}

long parseStatusKb(const std::string& statusText, const std::string& name) {
    std::istringstream in(statusText);
    std::string line;
    const std::string prefix = name + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        char* end = nullptr;
        long value = std::strtol(line.c_str() + prefix.size(), &end, 10);
        if (end == line.c_str() + prefix.size())
            return -1;
        return value;
    }
    return -1;
}

ProcessSample sampleProcess(pid_t pid) {
    ProcessSample sample;
    std::string base = "/proc/" + std::to_string(pid);
    std::string stat;
    std::string status;
    if (!readWhole(base + "/stat", stat) || !readWhole(base + "/status", status))
        return sample;
    long long ticks = parseStatCpuTicks(stat);
    long hwm = parseStatusKb(status, "VmHWM");
    if (ticks < 0 || hwm < 0)
        return sample;
    sample.ok = true;
    sample.cpuSeconds = static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    sample.peakRssKb = hwm;
    sample.rssKb = parseStatusKb(status, "VmRSS");
    return sample;
}

} // namespace bench
