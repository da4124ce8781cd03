// Changes to one resource, one at a time. A conditional change reads the
// resource's tag and makes the change with nothing between them, also for a
// plug-in whose calls overlap.
#ifndef TOLVANE_RESOURCELOCK_H
#define TOLVANE_RESOURCELOCK_H

#include <memory>
#include <string>

class ResourceChangeLock {
  public:
    // Waits until no other change of the resource at `uri` (letter case and
    // a trailing "/" ignored) is under way.
    explicit ResourceChangeLock(const std::string& uri);
    ~ResourceChangeLock();
    ResourceChangeLock(const ResourceChangeLock&) = delete;
    ResourceChangeLock& operator=(const ResourceChangeLock&) = delete;

    struct Entry;

  private:
    std::string key_;
    std::shared_ptr<Entry> entry_;
};

#endif
