#include "uploadrules.h"

#include <cstdint>
#include <limits>

#include "postrules.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Well-formed UTF-8 sequences by their first byte: the length and the range
// of the second byte; every further byte is 80..BF.
struct Utf8Lead {
    unsigned char first, last; // range of the first byte
    size_t length;
    unsigned char secondLow, secondHigh;
};
const Utf8Lead kUtf8Leads[] = {
    {0x00, 0x7F, 1, 0, 0},       {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

const Utf8Lead* utf8LeadOf(unsigned char byte) {
    for (const Utf8Lead& lead : kUtf8Leads) {
        if (byte >= lead.first && byte <= lead.last)
            return &lead;
    }
    return nullptr;
}

} // namespace

std::string uploadBaseName(std::string_view clientFileName) {
    size_t slash = clientFileName.find_last_of('/');
    if (slash != std::string_view::npos)
        clientFileName.remove_prefix(slash + 1);
    size_t backslash = clientFileName.find_last_of('\\');
    if (backslash != std::string_view::npos)
        clientFileName.remove_prefix(backslash + 1);
    return std::string(clientFileName);
}

bool isStorableBaseName(std::string_view baseName) {
    return !baseName.empty() && baseName != "." && baseName != "..";
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const Utf8Lead* lead = utf8LeadOf(static_cast<unsigned char>(text[i]));
        if (!lead || text.size() - i < lead->length)
            return false;
        for (size_t k = 1; k < lead->length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            const unsigned char low = k == 1 ? lead->secondLow : 0x80;
            const unsigned char high = k == 1 ? lead->secondHigh : 0xBF;
            if (byte < low || byte > high)
                return false;
        }
        i += lead->length;
    }
    return true;
}

json::Value convertFieldValue(std::string_view text) {
    if (text == "true")
        return true;
    if (text == "false")
        return false;
    if (!text.empty() && isDigit(text[0])) {
        int64_t number = 0;
        size_t i = 0;
        for (; i < text.size() && isDigit(text[i]); ++i) {
            number = number * 10 + (text[i] - '0');
            if (number > std::numeric_limits<int32_t>::max())
                break;
        }
        if (i == text.size() || !isDigit(text[i]))
            return static_cast<int32_t>(number);
    }
    return std::string(text);
}

FormFieldCollector::Result FormFieldCollector::beginPart(std::string_view name) {
    if (++parts_ > kMaxFormParts)
        return Result::TooLarge;
    currentName_ = std::string(name);
    piecesInPart_ = 0;
    currentStored_ = false;
    return Result::Continue;
}

FormFieldCollector::Result FormFieldCollector::addPiece(const char* value, size_t length) {
    bool first = piecesInPart_++ == 0;
    if (first && currentName_.empty())
        return Result::Stop;
    if (length == 0)
        return Result::Continue;
    if (value == nullptr)
        return Result::Stop;
    if (!currentStored_) {
        fields_.emplace_back(currentName_, std::string());
        currentStored_ = true;
    }
    std::string& text = fields_.back().second;
    if (length > kMaxFormFieldValueBytes - text.size())
        return Result::TooLarge;
    text.append(value, length);
    return Result::Continue;
}

std::string buildUploadArgument(const FormFields& fields, const std::string& absoluteFilePath,
                                const std::string* logFilePath) {
    json::Value object = json::Value::object();
    for (const auto& field : fields)
        object[field.first] = convertFieldValue(field.second);
    object["absoluteFilePath"] = absoluteFilePath;
    if (logFilePath)
        object["logFilePath"] = *logFilePath;
    return json::dump(object);
}
