// Firmware and microcode images as the OEM actions and the update service
// take them: the uploaded file is read and checked with no lock held (a large
// image holds no reader off), and installed with the model lock held alone.
#ifndef TOLVANE_PLUGIN_FIRMWAREIMAGES_H
#define TOLVANE_PLUGIN_FIRMWAREIMAGES_H

#include <cstddef>
#include <initializer_list>
#include <string>

#include "imageformat.h"
#include "json.h"
#include "messages.h"
#include "router.h"

namespace tolvane::plugin {

class PluginService;

constexpr size_t kMaxUploadBytes = 64u * 1024 * 1024;
extern const char* const kUploadParameter; // "UpdateFile"

// Refuses an argument other than the members the server adds, annotations and
// `known` (ActionParameterUnknown).
void checkParameters(const Json& args, const std::string& action,
                     std::initializer_list<const char*> known);
// A boolean argument; false when absent.
bool flag(const Json& args, const char* name, const std::string& action);

// The uploaded file's bytes, at most `limit` of them. Only a regular file
// directly inside an upload folder of the server is read, whatever a client
// writes into the arguments of a plain POST: the name is checked before the
// file is opened (absolute, no "." or "..", not a link). Refusals name the
// parameter "UpdateFile" of `action`.
std::string readUpload(const PluginService& s, const Json& args, const std::string& action,
                       size_t limit = kMaxUploadBytes);

// `bytes` as an image of `component` ("Firmware" or "Microcode"; "" takes
// either); a bad one is refused as a bad value of `parameter` of `action`.
ImageInfo checkImage(const std::string& bytes, const std::string& component,
                     const std::string& action, const std::string& parameter);

// A file that is not what `action` takes, as a bad value of `parameter`.
RedfishError badFile(const std::string& action, const std::string& parameter,
                     const FileFormatError& e);

// Refuses an image for another model than `c` and, unless `allowDowngrade`
// (the request's `downgradeParameter`), an older version than the installed
// one; the model lock held by the caller.
void checkInstallable(const Controller& c, const ImageInfo& info, bool allowDowngrade,
                      const std::string& action, const std::string& parameter,
                      const std::string& downgradeParameter);

// checkInstallable(), then installs the image on `c`, the model lock held
// alone by the caller. The answer is the action's 200.
Reply installImage(PluginService& s, Controller& c, const ImageInfo& info, bool allowDowngrade,
                   const std::string& action, const std::string& parameter,
                   const std::string& downgradeParameter);

} // namespace tolvane::plugin

#endif
