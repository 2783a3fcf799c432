// The user's home on Linux: HOME, or else the user database's entry for the
// effective user, as a login would have set HOME.

#include <pwd.h>
#include <unistd.h>

#include <QByteArray>
#include <QtGlobal>

#include "common/UserHome.h"

namespace zandrel {

void TakeHomeFromUserDatabase() {
    if (!qEnvironmentVariableIsEmpty("HOME"))
        return;
    // getpwuid's static entry is safe here: start-up runs before any thread.
    const struct passwd* entry = ::getpwuid(::geteuid());
    if (entry == nullptr || entry->pw_dir == nullptr)
        return;
    const QByteArray home(entry->pw_dir);
    if (home.startsWith('/') && home != "/")
        qputenv("HOME", home);
}

}  // namespace zandrel
