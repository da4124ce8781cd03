// Rules of a multipart upload that need no connection: the stored base name, the collection and
// conversion of form fields, and the argument object handed to the plug-in.
#ifndef TOLVANE_UPLOADRULES_H
#define TOLVANE_UPLOADRULES_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jsonadapter.h"

// Text after the last "/" and, within that, after the last backslash.
std::string uploadBaseName(std::string_view clientFileName);

// "", "." and ".." name no file.
bool isStorableBaseName(std::string_view baseName);

// Well-formed UTF-8 (Unicode table 3-7): no overlong forms, no surrogates,
// nothing past U+10FFFF. A client's file name must be: a replaced byte would
// let two names meet in one.
bool isValidUtf8(std::string_view text);

// "true" and "false" give booleans; a text starting with a decimal digit gives
// the number its leading digits form when that fits a 32-bit signed integer;
// anything else stays a string.
json::Value convertFieldValue(std::string_view text);

using FormFields = std::vector<std::pair<std::string, std::string>>;

// Limits that end a form parse; the request is then answered 413.
constexpr size_t kMaxFormFieldValueBytes = 64 * 1024;
constexpr size_t kMaxFormParts = 256;

// Collects the plain fields of one form parse. The parser announces each part
// and then hands a field's value over in one or more pieces.
class FormFieldCollector {
  public:
    enum class Result { Continue, Stop, TooLarge };

    // A new part (plain field or file). TooLarge past kMaxFormParts parts.
    Result beginPart(std::string_view name);
    // One piece of the current plain field. The first piece of a field whose
    // name is empty stops the parse; empty fields are left out; pieces are
    // joined; a value beyond kMaxFormFieldValueBytes is TooLarge.
    Result addPiece(const char* value, size_t length);

    const FormFields& fields() const { return fields_; }
    size_t partCount() const { return parts_; }

  private:
    FormFields fields_;
    std::string currentName_;
    size_t parts_ = 0;
    size_t piecesInPart_ = 0;
    bool currentStored_ = false; // the current field has an entry in fields_
};

// The argument text: one member per field in arrival order (a repeated name
// replaces the earlier value where it stands), then "absoluteFilePath", then
// "logFilePath" when `logFilePath` is given. Compact JSON.
std::string buildUploadArgument(const FormFields& fields, const std::string& absoluteFilePath,
                                const std::string* logFilePath);

#endif
