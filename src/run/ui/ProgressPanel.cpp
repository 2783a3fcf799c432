#include "run/ui/ProgressPanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <cmath>

#include "common/FormatSize.h"

namespace zandrel {

namespace {

QLabel* makeLabel(QWidget* parent, const char* objectName, const QString& text) {
    auto* label = new QLabel(text, parent);
    if (objectName)
        label->setObjectName(QLatin1String(objectName));
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

constexpr int kRepaintIntervalMs = 33;

}  // namespace

ProgressPanel::ProgressPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Picture1"));
    setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(2);

    lblpath_ = makeLabel(this, "lblpath", QStringLiteral("Current file"));
    // Texts that change per file or block must not relayout the panel.
    lblpath_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    fileBar_ = makeBar(this, "ProgressBar2", QStringLiteral("Current file progress"));
    overallBar_ = makeBar(this, "ProgressBar1", QStringLiteral("Overall progress"));
    lblpercent_ = makeLabel(this, "lblpercent", QStringLiteral("0"));
    lblsofar_ = makeLabel(this, "lblsofar", QStringLiteral("0 bytes"));
    lblspeed_ = makeLabel(this, "lblspeed", QStringLiteral("0 bytes/sec"));
    lblcopied_ = makeLabel(this, "lblcopied", QStringLiteral("0"));
    lblskipped_ = makeLabel(this, "lblskipped", QStringLiteral("0"));
    lblerrors_ = makeLabel(this, "lblerrors", QStringLiteral("0"));

    grid->addWidget(lblpath_, 0, 0, 1, 4);
    grid->addWidget(fileBar_, 1, 0, 1, 4);
    grid->addWidget(makeLabel(this, nullptr, QStringLiteral("Overall")), 2, 0, 1, 4);
    grid->addWidget(overallBar_, 3, 0, 1, 4);
    const struct {
        const char* caption;
        QLabel* value;
        int row, column;
    } pairs[] = {{"%:", lblpercent_, 4, 0},       {"So far:", lblsofar_, 5, 0},
                 {"Speed:", lblspeed_, 6, 0},     {"Copied:", lblcopied_, 4, 2},
                 {"Skipped:", lblskipped_, 5, 2}, {"Errors:", lblerrors_, 6, 2}};
    for (const auto& p : pairs) {
        grid->addWidget(makeLabel(this, nullptr, QLatin1String(p.caption)), p.row, p.column);
        p.value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        grid->addWidget(p.value, p.row, p.column + 1);
    }
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    grid->setRowStretch(7, 1);
    sinceRepaint_.start();
    applyTimer_ = new QTimer(this);
    applyTimer_->setSingleShot(true);
    applyTimer_->setInterval(0);
    connect(applyTimer_, &QTimer::timeout, this, &ProgressPanel::applyBars);
}

void ProgressPanel::setBars(int fileValue, int overallValue) {
    if (fileValue == fileValue_ && overallValue == overallValue_)
        return;
    fileValue_ = fileValue;
    overallValue_ = overallValue;
    if (!applyTimer_->isActive())
        applyTimer_->start();
}

void ProgressPanel::applyBars() {
    fileBar_->setValue(fileValue_);
    overallBar_->setValue(overallValue_);
}

void ProgressPanel::setLabel(QLabel* label, const QString& text) {
    if (label->text() == text)
        return;
    label->setText(text);
    flush();
}

void ProgressPanel::flush() {
    // The copy runs between yields; show current values without repainting
    // on every block.
    if (sinceRepaint_.elapsed() < kRepaintIntervalMs)
        return;
    sinceRepaint_.restart();
    applyBars();
    if (isVisible())
        repaint();
}

void ProgressPanel::ShowOverallProgress(int i, int count) {
    const double share = count > 0 ? static_cast<float>(i) / static_cast<float>(count) * 100.0f : 0;
    setBars(fileValue_, static_cast<int>(share));
}

void ProgressPanel::ShowCurrentFileName(const QString& name) {
    setLabel(lblpath_, name);
}

void ProgressPanel::BeginFileProgress(qint64 length) {
    fileLength_ = length;
    fileScale_ = 1;
    while (length / fileScale_ > std::numeric_limits<int>::max()) fileScale_ *= 2;
    fileBar_->setRange(0, static_cast<int>(length / fileScale_));
    setBars(0, overallValue_);
}

void ProgressPanel::ShowBlockProgress(qint64 position, qint64 length, double runBytesCopied) {
    setBars(static_cast<int>(position / fileScale_), overallValue_);
    const double p =
        length > 0 ? static_cast<double>(position) / static_cast<double>(length) * 100.0 : 0;
    const double rounded = std::nearbyint(p);  // halves to the even neighbour
    setLabel(lblpercent_, QString::number(static_cast<long long>(rounded)));
    setLabel(lblsofar_, FormatSize(runBytesCopied));
}

void ProgressPanel::EndFileProgress() {
    setBars(0, overallValue_);
}

void ProgressPanel::ShowCopiedCount(int copied) {
    setLabel(lblcopied_, QString::number(copied));
}

void ProgressPanel::ShowErrorCount(int errors) {
    setLabel(lblerrors_, QString::number(errors));
}

void ProgressPanel::AddSkipped() {
    setLabel(lblskipped_, QString::number(lblskipped_->text().toInt() + 1));
}

void ProgressPanel::ShowSpeed(const QString& text) {
    lblspeed_->setText(text);
    if (isVisible())
        lblspeed_->repaint();
}

void ProgressPanel::Reset() {
    lblpath_->setText(QStringLiteral("Current file"));
    lblpercent_->setText(QStringLiteral("0"));
    lblcopied_->setText(QStringLiteral("0"));
    lblskipped_->setText(QStringLiteral("0"));
    lblerrors_->setText(QStringLiteral("0"));
    lblsofar_->setText(QStringLiteral("0 bytes"));
    setBars(0, 0);
    applyBars();
}

}  // namespace zandrel
