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

    ScopedMount(ScopedMount&& other) noexcept;
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    ScopedMount& operator=(ScopedMount&&) = delete;
    ~ScopedMount();

    bool ok() const { return !target_.isEmpty(); }
    QString why() const { return why_; }
    // Makes a mounted tmpfs read-only (or writable) again in place.
    bool remount(bool readOnly);

  private:
    ScopedMount() = default;
    QString target_;
    QString why_;
};

}  // namespace zandrel::test
