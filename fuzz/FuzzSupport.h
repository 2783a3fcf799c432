#pragma once
// Shared by the fuzz targets: a host that answers nothing, and a check that
// stops the fuzzer with a readable message.

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "common/Host.h"

namespace zandrel::fuzz {

class NullHost : public Host {
  public:
    Answer message(Icon, const QString&, const QString&, Buttons, Answer defaultButton) override {
        return defaultButton;
    }
    using Host::message;
    QString fileDialog(const FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    void yield() override {}
    void setStartCaption(const QString&) override {}
    bool abortRequested() const override { return false; }
    void setStatusText(const QString&) override {}
    void clearReports() override {}
    void appendReport(const QString&) override {}
};

[[noreturn]] inline void Fail(const char* what, const QString& detail) {
    std::fprintf(stderr, "fuzz check failed: %s\n  %s\n", what, qUtf8Printable(detail));
    std::abort();
}

inline QByteArray Bytes(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

inline QString TakeText(FuzzedDataProvider& in, std::size_t maxBytes) {
    const std::string s = in.ConsumeRandomLengthString(maxBytes);
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline QString Quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + u'"';
}

}  // namespace zandrel::fuzz

#define FUZZ_CHECK(cond, detail)                    \
    do {                                            \
        if (!(cond))                                \
            ::zandrel::fuzz::Fail(#cond, (detail)); \
    } while (0)
