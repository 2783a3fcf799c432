#include "app/ProgressPanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <cmath>
#include <limits>

#include "common/FormatSize.h"
#include "common/Paths.h"
#include "widgets/ValueLabel.h"

namespace zandrel {

namespace {

QLabel* makeCaption(QWidget* parent, const QString& text) {
    return new QLabel(text, parent);
}

// sample: the widest text the value normally takes, which sizes the label.
QLabel* makeValue(QWidget* parent, const char* objectName, const QString& text,
                  const QString& sample) {
    auto* label = new ValueLabel(text, sample, parent);
    label->setObjectName(QLatin1String(objectName));
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return label;
}

QProgressBar* MakeBar(QWidget* parent, const char* objectName, const QString& accessibleName) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(objectName));
    bar->setAccessibleName(accessibleName);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    // Slim, as it shows no text, but as tall as a line of the font in use.
    bar->setFixedHeight(bar->fontMetrics().height());
    return bar;
}

// Ten times a second is live to the eye; every repaint waits for the display
// server, which a small-file run would otherwise feel.
constexpr int kRefreshIntervalMs = 100;

const QString kIdlePath = QStringLiteral("Current file");

// Only a changed text costs a repaint.
void setText(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

}  // namespace

ProgressPanel::ProgressPanel(QWidget* parent, QLabel* statusText)
    : QFrame(parent), statusText_(statusText) {
    setObjectName(QStringLiteral("Picture1"));
    setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(2);

    // The file name takes the panel's width, shortened in the middle when longer.
    lblpath_ = makeValue(this, "lblpath", kIdlePath, QString());
    lblpath_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    fileBar_ = MakeBar(this, "ProgressBar2", QStringLiteral("Current file progress"));
    overallBar_ = MakeBar(this, "ProgressBar1", QStringLiteral("Overall progress"));
    const QString count = QStringLiteral("99999999");
    lblpercent_ = makeValue(this, "lblpercent", QStringLiteral("0"), QStringLiteral("100"));
    lblsofar_ = makeValue(this, "lblsofar", FormatSize(0), FormatSize(999));
    lblspeed_ = makeValue(this, "lblspeed", QStringLiteral("0 bytes/sec"),
                          FormatSize(999) + QStringLiteral("/sec"));
    lblcopied_ = makeValue(this, "lblcopied", QStringLiteral("0"), count);
    lblskipped_ = makeValue(this, "lblskipped", QStringLiteral("0"), count);
    lblerrors_ = makeValue(this, "lblerrors", QStringLiteral("0"), count);
    lblverified_ = makeValue(this, "lblverified", QStringLiteral("0"), count);

    grid->addWidget(lblpath_, 0, 0, 1, 4);
    grid->addWidget(fileBar_, 1, 0, 1, 4);
    grid->addWidget(makeCaption(this, QStringLiteral("Overall")), 2, 0, 1, 4);
    grid->addWidget(overallBar_, 3, 0, 1, 4);
    const struct {
        const char* caption;
        QLabel* value;
        int row, column;
    } pairs[] = {{"%:", lblpercent_, 4, 0},       {"So far:", lblsofar_, 5, 0},
                 {"Speed:", lblspeed_, 6, 0},     {"Copied:", lblcopied_, 4, 2},
                 {"Skipped:", lblskipped_, 5, 2}, {"Errors:", lblerrors_, 6, 2}};
    for (const auto& p : pairs) {
        grid->addWidget(makeCaption(this, QLatin1String(p.caption)), p.row, p.column);
        grid->addWidget(p.value, p.row, p.column + 1);
    }
    // Only while a run verifies its copies.
    verifiedCaption_ = makeCaption(this, QStringLiteral("Verified:"));
    grid->addWidget(verifiedCaption_, 7, 2);
    grid->addWidget(lblverified_, 7, 3);
    verifiedCaption_->hide();
    lblverified_->hide();
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    grid->setRowStretch(8, 1);
    sinceRefresh_.start();
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    connect(refreshTimer_, &QTimer::timeout, this, &ProgressPanel::refresh);
}

void ProgressPanel::changed() {
    // A refresh already waiting will show this change too.
    if (refreshTimer_->isActive())
        return;
    const qint64 since = sinceRefresh_.elapsed();
    if (since >= kRefreshIntervalMs)
        refresh();
    else
        refreshTimer_->start(static_cast<int>(kRefreshIntervalMs - since));
}

void ProgressPanel::refresh() {
    refreshTimer_->stop();
    sinceRefresh_.restart();
    // A progress bar repaints itself at once on a visible change, and every
    // repaint waits for the display server. With updates held, the panel is
    // painted once, with everything else, at the run's next yield.
    const bool holding = updatesEnabled();
    setUpdatesEnabled(false);
    setText(lblpath_, v_.sourceFile.isNull() ? kIdlePath : DecodePath(GetFileName(v_.sourceFile)));
    setText(lblpercent_, QString::number(v_.percent));
    setText(lblsofar_, FormatSize(v_.runBytesCopied));
    setText(lblcopied_, QString::number(v_.copied));
    setText(lblskipped_, QString::number(v_.skipped));
    setText(lblerrors_, QString::number(v_.errors));
    if (lblverified_->isHidden() == (v_.verified >= 0)) {
        lblverified_->setVisible(v_.verified >= 0);
        verifiedCaption_->setVisible(v_.verified >= 0);
    }
    if (v_.verified >= 0)
        setText(lblverified_, QString::number(v_.verified));
    if (statusText_ && v_.destinationWaiting)
        setText(statusText_, ShownPath(DecodePath(v_.destination)));
    v_.destinationWaiting = false;
    if (fileBar_->maximum() != v_.fileMaximum)
        fileBar_->setRange(0, v_.fileMaximum);
    fileBar_->setValue(v_.fileValue);
    overallBar_->setValue(v_.overallValue);
    setUpdatesEnabled(holding);
}

void ProgressPanel::ShowOverallProgress(int i, int count) {
    const double share = count > 0 ? static_cast<float>(i) / static_cast<float>(count) * 100.0f : 0;
    v_.overallValue = static_cast<int>(share);
    changed();
}

void ProgressPanel::ShowCurrentFile(const QByteArray& sourceFile, const QByteArray& destination) {
    v_.sourceFile = sourceFile;
    v_.destination = destination;
    v_.destinationWaiting = true;
    changed();
}

void ProgressPanel::BeginFileProgress(qint64 length) {
    fileScale_ = 1;
    while (length / fileScale_ > std::numeric_limits<int>::max()) fileScale_ *= 2;
    v_.fileMaximum = static_cast<int>(length / fileScale_);
    v_.fileValue = 0;
    changed();
}

void ProgressPanel::ShowBlockProgress(qint64 position, qint64 length, double runBytesCopied) {
    v_.fileValue = static_cast<int>(position / fileScale_);
    const double p =
        length > 0 ? static_cast<double>(position) / static_cast<double>(length) * 100.0 : 0;
    v_.percent = static_cast<long long>(std::nearbyint(p));  // halves to the even neighbour
    v_.runBytesCopied = runBytesCopied;
    changed();
}

void ProgressPanel::EndFileProgress() {
    v_.fileValue = 0;
    changed();
}

void ProgressPanel::showCopiedCount(int copied) {
    v_.copied = copied;
    changed();
}

void ProgressPanel::showErrorCount(int errors) {
    v_.errors = errors;
    changed();
}

void ProgressPanel::showVerifiedCount(int verified) {
    v_.verified = verified;
    changed();
}

void ProgressPanel::addSkipped() {
    ++v_.skipped;
    changed();
}

void ProgressPanel::showSpeed(const QString& text) {
    lblspeed_->setText(text);
}

void ProgressPanel::showStatusText(const QString& text) {
    v_.destinationWaiting = false;
    if (statusText_)
        statusText_->setText(text);
}

void ProgressPanel::reset() {
    const Values idle;
    v_ = idle;
    refresh();
}

}  // namespace zandrel
