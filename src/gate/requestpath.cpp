#include "gate/requestpath.h"

#include "postrules.h"

namespace {

bool forbidden(unsigned char c) {
    return c == '?' || c == '#' || c < 0x20 || c == 0x7f;
}

} // namespace

bool decodedPathHasOneMeaning(std::string_view path) {
    for (char c : path) {
        if (forbidden(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::vector<std::string_view> pathSegments(std::string_view path) {
    std::vector<std::string_view> out;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > pos)
            out.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

std::string canonicalPath(std::string_view path) {
    std::string out;
    for (std::string_view segment : pathSegments(path)) {
        out += '/';
        out += segment;
    }
    return out.empty() ? "/" : out;
}

bool samePath(std::string_view a, std::string_view b) {
    return equalsIgnoreCase(canonicalPath(a), canonicalPath(b));
}
