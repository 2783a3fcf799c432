#include "listing/CommandLine.h"

#include <QStringList>

#include "common/Console.h"
#include "common/Paths.h"

namespace zandrel {

CommandLineRequest ParseCommandLine(QString c, const QString& programFolder,
                                    const std::function<bool(const QString&)>& pathExists) {
    CommandLineRequest request;
    static const QString kVerify = QStringLiteral("--verify");
    if (c.endsWith(u' ' + kVerify)) {
        c.chop(kVerify.size() + 1);
        request.verify = true;
    } else if (c.startsWith(kVerify + u' ')) {
        c.remove(0, kVerify.size() + 1);
        request.verify = true;
    }
    if (c.startsWith(u'"'))
        c.remove(0, 1);
    if (c.endsWith(u'"'))
        c.chop(1);
    // A preview finds its list as a run does.
    const bool preview = c.endsWith(QLatin1String(" -n"));
    if (preview)
        c.replace(c.size() - 3, 3, QStringLiteral(" -r"));
    if (c.endsWith(QLatin1String(" -rp"))) {
        request.pauseBeforeExit = true;
        c.chop(1);
    }
    if (c.endsWith(QLatin1String(" -r"))) {
        c.chop(3);
        if (!pathExists(c)) {
            if (c.startsWith(kSeparatorText))
                c.remove(0, 1);
            c = JoinPath(programFolder, c);
        }
        request.kind = preview ? CommandLineRequest::Kind::Preview : CommandLineRequest::Kind::Run;
        request.path = c;
        return request;
    }
    request.pauseBeforeExit = false;
    if (!c.isEmpty() && c.endsWith(QLatin1String(".bak"))) {
        request.kind = CommandLineRequest::Kind::Load;
        request.path = c;
    }
    return request;
}

QString CommandLineText(int argc, const char* const* argv) {
    return ProgramArguments(argc, argv).join(u' ');
}

}  // namespace zandrel
