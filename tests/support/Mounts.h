#pragma once
// Real file-system conditions for fault tests: a read-only folder and a small
// full disk. Tests run as root, where permissions alone stop nothing, so these
// are mounts; a test skips when mounting is refused.

#include <QString>

namespace zandrel::test {

class ScopedMount {
  public:
    // A tmpfs of the given size in KiB at folder (made when missing).
    static ScopedMount Tmpfs(const QString& folder, int sizeKiB, bool readOnly = false);
    // folder seen read-only at target (a bind mount).
    static ScopedMount ReadOnlyBind(const QString& folder, const QString& target);
    // The disks people carry and the ones that fail: a fresh image of sizeMiB
    // at image, formatted and mounted at folder. Fat and Exfat go through
    // FUSE (fusefat, exfat-fuse), as a desktop without the kernel's drivers
    // mounts a stick; Ext4NoJournal is a loop device, so writeback errors
    // reach the flushes (put image on a small tmpfs to make them).
    enum class Image { Fat, Exfat, Ext4NoJournal };
    static ScopedMount Formatted(Image kind, const QString& image, const QString& folder,
                                 int sizeMiB);

    ScopedMount(ScopedMount&& other) noexcept;
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    ScopedMount& operator=(ScopedMount&&) = delete;
    ~ScopedMount();

    bool ok() const { return !target_.isEmpty(); }
    QString why() const { return why_; }
    // Makes a mounted tmpfs read-only (or writable) again in place.
    bool remount(bool readOnly);

    // Unmounts and mounts the image again: what the disk holds, not what the
    // cache remembers.
    bool remountImage();

  private:
    ScopedMount() = default;
    bool mountImage();
    QString target_;
    QString why_;
    QString image_;
    Image kind_ = Image::Fat;
    QString loop_;
};

// Memory pressure on demand: the kernel lets go of cached inodes and
// folder entries (FAT and exFAT number a file afresh when it comes back).
void DropCaches();

}  // namespace zandrel::test
