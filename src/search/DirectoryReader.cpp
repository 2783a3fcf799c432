#include "search/DirectoryReader.h"

#include <algorithm>
#include <string_view>

namespace zandrel {

namespace {

std::uint16_t PropsOf(fs::FileKind kind) {
    switch (kind) {
        case fs::FileKind::Folder:
            return PropFolder;
        case fs::FileKind::Link:
            return PropLink;
        case fs::FileKind::Other:
            return PropSystem;
        case fs::FileKind::File:
        case fs::FileKind::Missing:
        case fs::FileKind::Unknown:
            // Listed as a file: one that cannot be examined then fails when
            // the run looks at it, instead of vanishing from the list.
            break;
    }
    return 0;
}

}  // namespace

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

int DirectoryReader::read(const fs::Folder& folder, DirectoryListing& listing) {
    listing.clear();
    const int error =
        folder.readEntries([&](const char* name, std::size_t size, fs::FileKind kind) {
            const std::uint16_t hidden = name[0] == '.' ? PropHidden : 0;
            listing.add(name, size, hidden | PropsOf(kind));
        });
    if (error != 0) {
        listing.clear();
        return error;
    }
    listing.sort();
    listing.readable_ = true;
    return 0;
}

}  // namespace zandrel
