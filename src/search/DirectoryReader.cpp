#include "search/DirectoryReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/UniqueFd.h"

namespace zandrel {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

std::uint16_t PropsOfMode(mode_t mode) {
    if (S_ISDIR(mode))
        return PropFolder;
    if (S_ISREG(mode))
        return 0;
    return PropSystem;
}

}  // namespace

UniqueFd DirectoryReader::openFolder(const QByteArray& path) {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (path.size() < PATH_MAX)
        return UniqueFd(::open(path.constData(), kFlags));
    // Too long for one system call: open it in pieces, each relative to the
    // one before. A walk goes down one level at a time, so start from the
    // last long folder when this one lies below it.
    qsizetype pos = 0;
    int at = AT_FDCWD;
    if (deepFd_.valid() && path.startsWith(deepPath_)) {
        at = deepFd_.get();
        pos = deepPath_.size();
    }
    UniqueFd base;
    while (true) {
        // Relative to an opened piece, further separators add nothing.
        if (at != AT_FDCWD)
            while (pos < path.size() && path.at(pos) == '/') ++pos;
        const qsizetype rest = path.size() - pos;
        if (rest < PATH_MAX) {
            UniqueFd fd(::openat(at, rest == 0 ? "." : path.constData() + pos, kFlags));
            if (fd.valid()) {
                deepFd_ = UniqueFd(::openat(fd.get(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
                deepPath_ = path.endsWith('/') ? path : path + '/';
            }
            return fd;
        }
        const qsizetype cut = path.lastIndexOf('/', pos + PATH_MAX - 2);
        if (cut < pos)
            return UniqueFd();
        const QByteArray piece = path.mid(pos, cut - pos + 1);
        UniqueFd next(::openat(at, piece.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!next.valid())
            return UniqueFd();
        base = std::move(next);
        at = base.get();
        pos = cut + 1;
    }
}

void DirectoryListing::clear() {
    readable_ = false;
    names_.clear();
    entries_.clear();
}

void DirectoryListing::add(const char* name, std::size_t size, std::uint16_t props) {
    entries_.push_back(
        {static_cast<std::uint32_t>(names_.size()), static_cast<std::uint32_t>(size), props});
    names_.append(name, size);
}

void DirectoryListing::sort() {
    const char* base = names_.data();
    std::sort(entries_.begin(), entries_.end(), [base](const Entry& a, const Entry& b) {
        // Byte order: string_view compares as unsigned char.
        return std::string_view(base + a.offset, a.size) <
               std::string_view(base + b.offset, b.size);
    });
}

bool DirectoryReader::read(const QByteArray& folder, bool resolveLinks, DirectoryListing& listing) {
    listing.clear();
    const UniqueFd fd = openFolder(folder);
    if (!fd.valid())
        return false;
    if (buffer_.empty())
        buffer_.resize(kBufferSize);

    while (true) {
        const ssize_t n = ::getdents64(fd.get(), buffer_.data(), buffer_.size());
        if (n <= 0)
            break;  // the end, or an error part way: keep what was read
        for (ssize_t pos = 0; pos < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer_.data() + pos);
            pos += d->d_reclen;
            const char* name = d->d_name;
            const std::size_t size = std::strlen(name);
            if (name[0] == '.' && (size == 1 || (size == 2 && name[1] == '.')))
                continue;

            std::uint16_t props = name[0] == '.' ? PropHidden : 0;
            unsigned char type = d->d_type;
            struct stat st {};
            if (type == DT_UNKNOWN) {
                if (::fstatat(fd.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
                if (!S_ISLNK(st.st_mode))
                    props |= PropsOfMode(st.st_mode);
            } else if (type == DT_DIR) {
                props |= PropFolder;
            } else if (type != DT_REG && type != DT_LNK) {
                props |= PropSystem;
            }
            if (type == DT_LNK) {
                props |= PropLink;
                if (resolveLinks) {
                    // A dangling link is neither a file nor a folder.
                    props |= ::fstatat(fd.get(), name, &st, 0) == 0 ? PropsOfMode(st.st_mode)
                                                                    : std::uint16_t(PropSystem);
                }
            }
            listing.add(name, size, props);
        }
    }
    listing.sort();
    listing.readable_ = true;
    return true;
}

}  // namespace zandrel
