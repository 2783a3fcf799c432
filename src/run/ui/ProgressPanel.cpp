#include "run/ui/ProgressPanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <cmath>
#include <limits>

#include "common/FormatSize.h"
#include "run/ui/ValueLabel.h"

namespace zandrel {

namespace {

QLabel* makeCaption(QWidget* parent, const QString& text) {
    return new QLabel(text, parent);
}

QLabel* makeValue(QWidget* parent, const char* objectName, const QString& text) {
    auto* label = new ValueLabel(text, parent);
    label->setObjectName(QLatin1String(objectName));
    // Texts that change per file or block must not relayout the panel.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return label;
}

QProgressBar* makeBar(QWidget* parent, const char* objectName, const QString& accessibleName) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(objectName));
    bar->setAccessibleName(accessibleName);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedHeight(14);
    return bar;
}

constexpr int kRefreshIntervalMs = 33;

const QString kIdlePath = QStringLiteral("Current file");
const QString kIdleCount = QStringLiteral("0");
const QString kIdleSoFar = QStringLiteral("0 bytes");

}  // namespace

ProgressPanel::ProgressPanel(QWidget* parent, QLabel* statusText) : QFrame(parent) {
    setObjectName(QStringLiteral("Picture1"));
    setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(2);

    path_ = {makeValue(this, "lblpath", kIdlePath), kIdlePath};
    fileBar_ = makeBar(this, "ProgressBar2", QStringLiteral("Current file progress"));
    overallBar_ = makeBar(this, "ProgressBar1", QStringLiteral("Overall progress"));
    percent_ = {makeValue(this, "lblpercent", kIdleCount), kIdleCount};
    sofar_ = {makeValue(this, "lblsofar", kIdleSoFar), kIdleSoFar};
    lblspeed_ = makeValue(this, "lblspeed", QStringLiteral("0 bytes/sec"));
    copied_ = {makeValue(this, "lblcopied", kIdleCount), kIdleCount};
    skipped_ = {makeValue(this, "lblskipped", kIdleCount), kIdleCount};
    errors_ = {makeValue(this, "lblerrors", kIdleCount), kIdleCount};
    if (statusText)
        status_ = {statusText, statusText->text()};

    grid->addWidget(path_.label, 0, 0, 1, 4);
    grid->addWidget(fileBar_, 1, 0, 1, 4);
    grid->addWidget(makeCaption(this, QStringLiteral("Overall")), 2, 0, 1, 4);
    grid->addWidget(overallBar_, 3, 0, 1, 4);
    const struct {
        const char* caption;
        QLabel* value;
        int row, column;
    } pairs[] = {{"%:", percent_.label, 4, 0},       {"So far:", sofar_.label, 5, 0},
                 {"Speed:", lblspeed_, 6, 0},        {"Copied:", copied_.label, 4, 2},
                 {"Skipped:", skipped_.label, 5, 2}, {"Errors:", errors_.label, 6, 2}};
    for (const auto& p : pairs) {
        grid->addWidget(makeCaption(this, QLatin1String(p.caption)), p.row, p.column);
        grid->addWidget(p.value, p.row, p.column + 1);
    }
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    grid->setRowStretch(7, 1);
    sinceRefresh_.start();
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    connect(refreshTimer_, &QTimer::timeout, this, &ProgressPanel::Refresh);
}

void ProgressPanel::set(Shown& shown, const QString& text) {
    if (!shown.label || shown.text == text)
        return;
    shown.text = text;
    changed();
}

void ProgressPanel::changed() {
    const qint64 since = sinceRefresh_.elapsed();
    if (since >= kRefreshIntervalMs)
        Refresh();
    else if (!refreshTimer_->isActive())
        refreshTimer_->start(static_cast<int>(kRefreshIntervalMs - since));
}

void ProgressPanel::Refresh() {
    refreshTimer_->stop();
    sinceRefresh_.restart();
    if (sofarPending_) {
        sofar_.text = FormatSize(sofarBytes_);
        sofarPending_ = false;
    }
    // A progress bar repaints itself at once on a visible change, and every
    // repaint waits for the display server. With updates held, the panel is
    // painted once, with everything else, at the run's next yield.
    const bool holding = updatesEnabled();
    setUpdatesEnabled(false);
    for (Shown* s : {&path_, &percent_, &sofar_, &copied_, &skipped_, &errors_, &status_})
        if (s->label && s->label->text() != s->text)
            s->label->setText(s->text);
    if (fileBar_->maximum() != fileMaximum_)
        fileBar_->setRange(0, fileMaximum_);
    fileBar_->setValue(fileValue_);
    overallBar_->setValue(overallValue_);
    setUpdatesEnabled(holding);
}

void ProgressPanel::ShowOverallProgress(int i, int count) {
    const double share = count > 0 ? static_cast<float>(i) / static_cast<float>(count) * 100.0f : 0;
    if (overallValue_ == static_cast<int>(share))
        return;
    overallValue_ = static_cast<int>(share);
    changed();
}

void ProgressPanel::ShowCurrentFile(const QString& name, const QString& destination) {
    set(path_, name);
    set(status_, destination);
}

void ProgressPanel::BeginFileProgress(qint64 length) {
    fileScale_ = 1;
    while (length / fileScale_ > std::numeric_limits<int>::max()) fileScale_ *= 2;
    fileMaximum_ = static_cast<int>(length / fileScale_);
    fileValue_ = 0;
    changed();
}

void ProgressPanel::ShowBlockProgress(qint64 position, qint64 length, double runBytesCopied) {
    const int value = static_cast<int>(position / fileScale_);
    if (value != fileValue_) {
        fileValue_ = value;
        changed();
    }
    const double p =
        length > 0 ? static_cast<double>(position) / static_cast<double>(length) * 100.0 : 0;
    const double rounded = std::nearbyint(p);  // halves to the even neighbour
    set(percent_, QString::number(static_cast<long long>(rounded)));
    // Formatted when shown: most blocks go by between two refreshes.
    if (runBytesCopied != sofarBytes_) {
        sofarBytes_ = runBytesCopied;
        sofarPending_ = true;
        changed();
    }
}

void ProgressPanel::EndFileProgress() {
    fileValue_ = 0;
    changed();
}

void ProgressPanel::ShowCopiedCount(int copied) {
    set(copied_, QString::number(copied));
}

void ProgressPanel::ShowErrorCount(int errors) {
    set(errors_, QString::number(errors));
}

void ProgressPanel::AddSkipped() {
    set(skipped_, QString::number(skipped_.text.toInt() + 1));
}

void ProgressPanel::ShowSpeed(const QString& text) {
    lblspeed_->setText(text);
}

void ProgressPanel::ShowStatusText(const QString& text) {
    if (!status_.label)
        return;
    status_.text = text;
    status_.label->setText(text);
}

void ProgressPanel::Reset() {
    path_.text = kIdlePath;
    percent_.text = kIdleCount;
    copied_.text = kIdleCount;
    skipped_.text = kIdleCount;
    errors_.text = kIdleCount;
    sofar_.text = kIdleSoFar;
    sofarBytes_ = 0;
    sofarPending_ = false;
    fileValue_ = 0;
    overallValue_ = 0;
    Refresh();
}

}  // namespace zandrel
