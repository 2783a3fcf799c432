// File names are bytes; texts for people are Unicode. A name that is not
// valid UTF-8 keeps each stray byte as one of the code points U+DC80 to
// U+DCFF, so that the text turns back into exactly the bytes it came from
// (a name from the command line opens whatever bytes it holds).

#include <QStringView>

#include "common/Paths.h"

namespace zandrel {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at p, or 0 when there is none.
qsizetype ValidSequenceLength(const unsigned char* p, qsizetype left) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    qsizetype n = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2, code = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, code = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, code = c & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (qsizetype i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

bool IsEscapedByte(QChar c) {
    return c.unicode() >= kEscapeBase + 0x80 && c.unicode() <= kEscapeBase + 0xFF;
}

QByteArray EncodedBytes(const QString& path) {
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype run = 0;  // start of the characters not yet encoded
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (c.isHighSurrogate() && i + 1 < path.size() && path.at(i + 1).isLowSurrogate()) {
            ++i;  // a whole character, not an escaped byte
        } else if (IsEscapedByte(c)) {
            bytes += QStringView(path).mid(run, i - run).toUtf8();
            bytes += char(c.unicode() - kEscapeBase);
            run = i + 1;
        }
    }
    if (run == 0)
        return path.toUtf8();
    bytes += QStringView(path).mid(run).toUtf8();
    return bytes;
}

}  // namespace

QString DecodePath(const QByteArray& path) {
    if (QUtf8StringView(path.constData(), path.size()).isValidUtf8())
        return QString::fromUtf8(path);
    QString text;
    text.reserve(path.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(path.constData());
    for (qsizetype i = 0; i < path.size();) {
        const qsizetype n = ValidSequenceLength(bytes + i, path.size() - i);
        if (n == 0) {
            text += QChar(char16_t(kEscapeBase + bytes[i]));
            ++i;
        } else {
            text += QString::fromUtf8(path.constData() + i, n);
            i += n;
        }
    }
    return text;
}

QByteArray EncodePath(const QString& path) {
#ifdef Q_OS_WIN
    // No Windows name holds a "\", only a path, as its separator; an escaped
    // byte is 0x80 or above and UTF-8 never makes one, so every 0x5C here is
    // a separator.
    return EncodedBytes(path).replace('\\', kSeparator);
#else
    return EncodedBytes(path);
#endif
}

}  // namespace zandrel
