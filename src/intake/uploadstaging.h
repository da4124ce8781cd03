// Where uploads arrive: each request receives its files in a directory of its
// own, so two uploads of one name never meet while they arrive. A plug-in
// that takes one call at a time finds the file at its fixed place in the
// uploads directory, moved there just before its call.
#ifndef TOLVANE_UPLOADSTAGING_H
#define TOLVANE_UPLOADSTAGING_H

#include <string>

// Server directory + "uploads-incoming" (no trailing separator).
std::string incomingUploadsDirectory(const std::string& serverDir);

// Removes every leftover under the incoming directory and creates it (owner
// and group only). False with `message` set when it cannot be used.
bool resetIncomingUploads(const std::string& serverDir, std::string& message);

// One request's incoming files. Everything it made is removed when it ends.
class UploadStaging {
  public:
    explicit UploadStaging(std::string serverDir) : serverDir_(std::move(serverDir)) {}
    ~UploadStaging();
    UploadStaging(const UploadStaging&) = delete;
    UploadStaging& operator=(const UploadStaging&) = delete;

    // A new, empty file for `baseName` in this request's directory (made on
    // first use); "" when it could not be made.
    std::string createFile(const std::string& baseName);
    // Moves the received file `path` to the uploads directory under its base
    // name and returns the new path ("" when it could not be moved). The
    // placed file is removed by removePlaced() or at the end.
    std::string place(const std::string& path);
    void removePlaced();

  private:
    std::string serverDir_;
    std::string requestDir_;
    std::string placed_;
};

#endif
