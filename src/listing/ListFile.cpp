#include "listing/ListFile.h"

#include <QSaveFile>
#include <QStringDecoder>

#include "common/FileSystem.h"
#include "common/Host.h"
#include "common/Paths.h"
#include "listing/Listing.h"

namespace zandrel {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five codes it
// leaves undefined keep their Latin-1 control characters.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString DecodeCp1252(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.append(b >= 0x80 && b <= 0x9F ? QChar(kCp1252High[b - 0x80]) : QChar(char16_t(b)));
    }
    return text;
}

const QByteArrayView kByteOrderMark("\xEF\xBB\xBF");

// Cuts bytes that arrive in blocks into lines, the byte order marks in front
// left out. Splitting the bytes gives the same lines as splitting the decoded
// text: CR and LF are single bytes in both encodings and never part of a
// longer UTF-8 sequence.
class LineSplitter {
  public:
    // Calls onLine(QByteArrayView) for every line complete so far; false when
    // onLine stopped.
    template <typename OnLine>
    bool feed(QByteArrayView block, bool end, OnLine&& onLine) {
        pending_.append(block.data(), block.size());
        const QByteArrayView data(pending_);
        qsizetype pos = 0;
        if (atStart_) {
            while (data.sliced(pos).startsWith(kByteOrderMark)) pos += 3;
            // Too few bytes yet to tell a mark from text.
            if (!end && kByteOrderMark.startsWith(data.sliced(pos))) {
                pending_.remove(0, pos);
                return true;
            }
            atStart_ = false;
        }
        qsizetype searchFrom = pos + searched_;
        for (;;) {
            const qsizetype cr = data.indexOf('\r', searchFrom);
            // A CR last in the block may be followed by the LF it swallows.
            if (cr < 0 || (cr + 1 == data.size() && !end)) {
                searched_ = (cr < 0 ? data.size() : cr) - pos;
                break;
            }
            if (!onLine(data.sliced(pos, cr - pos)))
                return false;
            pos = cr + 1;
            if (pos < data.size() && data[pos] == '\n')
                ++pos;
            searchFrom = pos;
        }
        if (end && pos < data.size()) {
            if (!onLine(data.sliced(pos)))
                return false;
            pos = data.size();
        }
        pending_.remove(0, pos);
        return true;
    }

  private:
    QByteArray pending_;
    qsizetype searched_ = 0;  // bytes at the front of pending_ known to hold no CR
    bool atStart_ = true;
};

enum class PassResult { Lines, Refused, NotUtf8 };

// One pass over the bytes, decoding every line as UTF-8 or as Windows-1252.
// The "<" are counted on the bytes: 0x3C is "<" in both encodings and in no
// other character. readBlock(block, end) gives the next block; false: the
// bytes cannot be read.
template <typename ReadBlock>
PassResult ParsePass(bool asUtf8, ReadBlock&& readBlock, Host& host, QStringList& lines) {
    // Marks after the first text are characters like any other.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    PassResult result = PassResult::Lines;
    auto onLine = [&](QByteArrayView bytes) {
        host.yield();
        if (bytes.count('<') != kSeparatorsPerLine) {
            result = PassResult::Refused;
            return false;
        }
        if (!asUtf8) {
            lines.append(DecodeCp1252(bytes));
            return true;
        }
        lines.append(utf8.decode(bytes));
        if (!utf8.hasError())
            return true;
        result = PassResult::NotUtf8;
        return false;
    };
    LineSplitter splitter;
    for (;;) {
        QByteArrayView block;
        bool end = false;
        if (!readBlock(block, end))
            return PassResult::Refused;
        if (!splitter.feed(block, end, onLine))
            return result;
        if (end)
            return result;
    }
}

// UTF-8 when every line is, otherwise Windows-1252 for the whole list.
// rewind() starts the bytes again from the beginning.
template <typename ReadBlock, typename Rewind>
std::optional<QStringList> ParseList(ReadBlock&& readBlock, Rewind&& rewind, Host& host) {
    for (const bool asUtf8 : {true, false}) {
        if (!rewind())
            return std::nullopt;
        QStringList lines;
        switch (ParsePass(asUtf8, readBlock, host, lines)) {
            case PassResult::Lines:
                return lines;
            case PassResult::Refused:
                return std::nullopt;
            case PassResult::NotUtf8:
                break;
        }
    }
    return std::nullopt;
}

}  // namespace

QString DecodeListText(const QByteArray& bytes) {
    // Byte order marks in front are a signature, never text: one left in
    // would hide the first Action token, and Save would not write it back.
    QByteArrayView body(bytes);
    while (body.startsWith("\xEF\xBB\xBF")) body = body.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (utf8.hasError())
        return DecodeCp1252(body);
    return text;
}

QStringList SplitListLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] != u'\r')
            continue;
        lines.append(text.mid(start, i - start));
        if (i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

std::optional<QStringList> ParseListBytes(const QByteArray& bytes, Host& host) {
    bool given = false;
    auto readBlock = [&](QByteArrayView& block, bool& end) {
        block = given ? QByteArrayView() : QByteArrayView(bytes);
        given = end = true;
        return true;
    };
    auto rewind = [&] {
        given = false;
        return true;
    };
    return ParseList(readBlock, rewind, host);
}

std::optional<QStringList> ReadListFile(const QString& path, Host& host) {
    // Non-blocking, so a FIFO given as a list never hangs the window.
    fs::ReadOnlyFile file;
    if (file.open(EncodePath(path)) != 0 || file.size() > kMaxListFileBytes)
        return std::nullopt;
    // Read in blocks, never whole: the lines are all that a large list keeps.
    QByteArray buffer(qsizetype{1} << 20, Qt::Uninitialized);
    qint64 total = 0;
    auto readBlock = [&](QByteArrayView& block, bool& end) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        total += n;
        // A file that grows while it is read is held to the same bound.
        if (total > kMaxListFileBytes)
            return false;
        block = QByteArrayView(buffer.constData(), n);
        end = n == 0;
        return true;
    };
    auto rewind = [&] {
        total = 0;
        return file.rewind();
    };
    return ParseList(readBlock, rewind, host);
}

bool WriteListFile(const QString& path, const QStringList& lines, Host& host) {
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return false;
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
