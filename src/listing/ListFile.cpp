#include "listing/ListFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QSaveFile>
#include <QStringDecoder>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "listing/Listing.h"

namespace zandrel {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five codes it
// leaves undefined keep their Latin-1 control characters.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString decodeCp1252(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.append(b >= 0x80 && b <= 0x9F ? QChar(kCp1252High[b - 0x80]) : QChar(char16_t(b)));
    }
    return text;
}

std::optional<QByteArray> readWholeFile(const QByteArray& path) {
    // Non-blocking, so a FIFO given as a list never hangs the window.
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > kMaxListFileBytes)
        return std::nullopt;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        // A file that grows while it is read is held to the same bound.
        if (bytes.size() + n > kMaxListFileBytes) return std::nullopt;
        bytes.append(buffer, n);
    }
    return bytes;
}

}  // namespace

QString DecodeListText(const QByteArray& bytes) {
    // Byte order marks in front are a signature, never text: one left in
    // would hide the first Action token, and Save would not write it back.
    QByteArrayView body(bytes);
    while (body.startsWith("\xEF\xBB\xBF")) body = body.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (utf8.hasError()) return decodeCp1252(body.toByteArray());
    return text;
}

QStringList SplitListLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] != u'\r') continue;
        lines.append(text.mid(start, i - start));
        if (i + 1 < n && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < n) lines.append(text.mid(start));
    return lines;
}

std::optional<QStringList> ParseListBytes(const QByteArray& bytes, Host& host) {
    QStringList lines = SplitListLines(DecodeListText(bytes));
    for (const QString& line : lines) {
        host.yield();
        if (CountFieldSeparators(line) != kSeparatorsPerLine) return std::nullopt;
    }
    return lines;
}

std::optional<QStringList> ReadListFile(const QString& path, Host& host) {
    const auto bytes = readWholeFile(EncodePath(path));
    if (!bytes) return std::nullopt;
    return ParseListBytes(*bytes, host);
}

bool WriteListFile(const QString& path, const QStringList& lines, Host& host) {
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) return false;
    for (const QString& line : lines) {
        host.yield();
        const QByteArray bytes = line.toUtf8() + "\r\n";
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            return false;
        }
    }
    return file.commit();
}

}  // namespace zandrel
