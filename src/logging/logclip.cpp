#include "logging/logclip.h"

#include <cstring>

namespace logtext {

namespace {

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Bytes of the sequence a lead byte starts (1 for anything that is no lead).
size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// The largest cut at or before `limit` that splits no sequence: `text[limit]`
// is the first byte left out, and when it continues a sequence the cut moves
// back to that sequence's lead. Bytes that are no valid sequence are cut
// anywhere.
size_t boundaryAtOrBefore(std::string_view text, size_t limit) {
    size_t cut = limit;
    while (cut > 0 && limit - cut < 3 && isContinuation(static_cast<unsigned char>(text[cut])))
        --cut;
    const unsigned char lead = static_cast<unsigned char>(text[cut]);
    if (cut == limit || isContinuation(lead) || cut + sequenceLength(lead) <= limit)
        return limit;
    return cut;
}

} // namespace

std::string clipped(std::string_view text, size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    const size_t kept = boundaryAtOrBefore(text, limit);
    std::string out(text.substr(0, kept));
    out += "...[cut ";
    out += std::to_string(text.size() - kept);
    out += " bytes]";
    return out;
}

Clipped::Clipped(const char* text, size_t limit) : LineText(text) {
    if (!text)
        return;
    const size_t size = std::strlen(text);
    if (size > limit)
        own(clipped(std::string_view(text, size), limit));
}

} // namespace logtext
