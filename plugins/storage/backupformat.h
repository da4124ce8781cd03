// Configuration backups: what the export action writes and the restore
// action reads back. A backup is a JSON document
//   {"Format": "Veltrano-Configuration-Backup", "FormatVersion": 1,
//    "Created": "<UTC time>", "Controller": {"Model", "SerialNumber",
//    "FirmwareVersion"}, "Configuration": {"Drives": [{"Id",
//    "SerialNumber"}], "HotSpares": [<drive Id>...], "Volumes": [...]},
//    "SHA256": "<hex digest of the compact Configuration text>"}
// The checksum catches files damaged or edited by hand.
#ifndef TOLVANE_PLUGIN_BACKUPFORMAT_H
#define TOLVANE_PLUGIN_BACKUPFORMAT_H

#include <string>

#include "json.h"
#include "storagemodel.h"

namespace tolvane::plugin {

extern const char* const kBackupFormat;

Json buildBackup(const Controller& c, const std::string& createdUtc);

struct RestoreResult {
    Controller controller; // the controller with the backup's configuration
    size_t volumes = 0;
    size_t hotSpares = 0;
};

// Checks a backup text against `current` and gives the controller as it is
// after the restore; `current` itself is not touched. Throws FileFormatError
// for a damaged or foreign file and RedfishError when the configuration does
// not fit the drives present.
RestoreResult restoreBackup(const Controller& current, const std::string& text,
                            const std::string& driveUriPrefix);

} // namespace tolvane::plugin

#endif
