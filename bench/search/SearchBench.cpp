// Builds a test tree, or lists it the way a run with sub-folders does:
// ListFilesBelow (23 for folders, 3 for files) and then ListFiles (23), "*.*".
//   bench_search make TREE   100,000 files in 1,000 folders
//   bench_search walk TREE   prints the number of paths and the peak memory

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QByteArray>
#include <cstdio>
#include <cstring>

#include "common/FileSystem.h"
#include "common/Host.h"
#include "search/DirAndFileSearch.h"

using namespace zandrel;

namespace {

// A host that never aborts and has nothing to show.
class QuietHost : public Host {
  public:
    Answer message(Icon, const QString&, const QString&, Buttons, Answer defaultButton) override {
        return defaultButton;
    }
    QString fileDialog(const FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    void yield() override { ++yields; }
    void setStartCaption(const QString&) override {}
    bool abortRequested() const override { return false; }
    void setStatusText(const QString&) override {}
    void clearReports() override {}
    void appendReport(const QString&) override {}
    long long yields = 0;
};

bool MakeFolder(const QByteArray& path) {
    return ::mkdir(path.constData(), 0755) == 0 || errno == EEXIST;
}

bool FillFolder(const QByteArray& folder, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/file%05d.dat", i);
        fs::Handle fd(::open((folder + name).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        if (!fd.valid())
            return false;
    }
    return true;
}

// 10 top folders with 99 subfolders each: 1,000 folders of 100 files.
int MakeTree(const QByteArray& root) {
    constexpr int kFilesPerFolder = 100;
    int next = 0;
    if (!MakeFolder(root))
        return 1;
    for (int d = 0; d < 10; ++d) {
        const QByteArray top = root + "/d" + QByteArray::number(d);
        if (!MakeFolder(top) || !FillFolder(top, next, kFilesPerFolder))
            return 1;
        next += kFilesPerFolder;
        for (int e = 0; e < 99; ++e) {
            const QByteArray sub = top + "/e" + QByteArray::number(e);
            if (!MakeFolder(sub) || !FillFolder(sub, next, kFilesPerFolder))
                return 1;
            next += kFilesPerFolder;
        }
    }
    std::printf("%d files\n", next);
    return 0;
}

int Walk(const QByteArray& root) {
    QuietHost host;
    SearchResult result;
    ListFilesBelow(root, QStringLiteral("*.*"), 23, 3, result, host);
    ListFiles({root}, QStringLiteral("*.*"), 23, result, host);
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%d paths, %lld yields, peak %ld KB\n", result.Count, host.yields, usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "make") == 0)
        return MakeTree(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "walk") == 0)
        return Walk(argv[2]);
    std::fprintf(stderr, "usage: bench_search make|walk TREE\n");
    return 2;
}
