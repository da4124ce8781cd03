#include "uploadrules.h"

#include <cstdint>
#include <limits>

#include "postrules.h"

namespace {

const OemUploadAction kOemUploadActions[] = {
    {"Veltrano.RestoreConfiguration", true},
    {"Veltrano.InstallOrUpgradeFirmware", false},
    {"Veltrano.SPDMOperations", false},
    {"Veltrano.UpgradeMicrocode", false},
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

const OemUploadAction* findOemUploadAction(std::string_view pluginUri) {
    for (const OemUploadAction& action : kOemUploadActions) {
        if (containsIgnoreCase(pluginUri, action.name))
            return &action;
    }
    return nullptr;
}

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
