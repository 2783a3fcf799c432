#pragma once
// The directory search: one folder's entries with their properties, read
// through the file layer, searched in a fixed order. Each folder is read to
// its end and closed before the caller opens another.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "common/FileSystem.h"
#include "search/PatternMatcher.h"

namespace zandrel {

// Entry properties in the EntryAttributes bits, plus the link flag.
enum EntryProperty : std::uint16_t {
    PropHidden = 2,
    PropSystem = 4,
    PropFolder = 16,
    PropLink = 0x100,  // a symbolic link: an entry of its own, neither folder nor system
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
    // Reads the open folder into listing: 0, or the system's error, and then
    // the listing is empty (a folder read only in part is not complete).
    static int read(const fs::Folder& folder, DirectoryListing& listing);
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
