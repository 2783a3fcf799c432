#pragma once
// The platform's directory search on Linux: reads one folder's entries with
// their properties, and searches them in a fixed order. Each folder is read
// to its end and closed before the caller opens another.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "common/UniqueFd.h"
#include "search/PatternMatcher.h"

namespace zandrel {

// Entry properties in the EntryAttributes bits, plus the link flag.
enum EntryProperty : std::uint16_t {
    PropHidden = 2,
    PropSystem = 4,
    PropFolder = 16,
    PropLink = 0x100,  // a symbolic link; its other properties are its target's
};

// The entries of one folder as read, without "." and "..", in byte order of
// their names.
class DirectoryListing {
  public:
    bool readable() const { return readable_; }

    // Calls visit(name, size, props) for every entry that the pattern and
    // the attribute set keep: "." and ".." first, then the rest in order.
    template <typename Visit>
    void search(const PatternMatcher& pattern, int attributes, Visit&& visit) const;

    static bool kept(std::uint16_t props, int attributes) {
        return (props & (PropHidden | PropSystem | PropFolder) & ~attributes) == 0;
    }

  private:
    friend class DirectoryReader;
    struct Entry {
        std::uint32_t offset;  // into names_
        std::uint32_t size;
        std::uint16_t props;
    };
    void clear();
    void add(const char* name, std::size_t size, std::uint16_t props);
    void sort();

    bool readable_ = false;
    std::string names_;
    std::vector<Entry> entries_;
};

class DirectoryReader {
  public:
    // Reads the folder (a path ending with "/") into listing. Link targets
    // are looked up only when resolveLinks is set, as only an attribute set
    // that can keep an entry out needs them. False when the folder cannot be
    // read; the listing is then empty.
    bool read(const QByteArray& folder, bool resolveLinks, DirectoryListing& listing);

    // Whether an attribute set needs link targets to decide what it keeps.
    static bool needsLinkTargets(int attributes) {
        constexpr int kAll = PropHidden | PropSystem | PropFolder;
        return (attributes & kAll) != kAll;
    }

  private:
    UniqueFd openFolder(const QByteArray& path);

    std::vector<char> buffer_;
    // The last folder opened whose path is too long for one system call.
    QByteArray deepPath_;
    UniqueFd deepFd_;
};

template <typename Visit>
void DirectoryListing::search(const PatternMatcher& pattern, int attributes, Visit&& visit) const {
    if (!readable_)
        return;
    // "." and ".." are the folder itself and its parent: folders, not hidden.
    if (kept(PropFolder, attributes)) {
        if (pattern.matches(".", 1))
            visit(".", std::size_t(1), std::uint16_t(PropFolder));
        if (pattern.matches("..", 2))
            visit("..", std::size_t(2), std::uint16_t(PropFolder));
    }
    for (const Entry& e : entries_) {
        if (!kept(e.props, attributes))
            continue;
        const char* name = names_.data() + e.offset;
        if (pattern.matches(name, e.size))
            visit(name, std::size_t(e.size), e.props);
    }
}

}  // namespace zandrel
