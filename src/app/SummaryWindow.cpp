#include "app/SummaryWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "common/Host.h"
#include "common/Paths.h"
#include "run/RunTexts.h"

namespace zandrel {

SummaryWindow::SummaryWindow(Host& host, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host) {
    setObjectName(QStringLiteral("errorsfrm"));
    setWindowTitle(QStringLiteral("Summary"));
    setAttribute(Qt::WA_DeleteOnClose);

    label2_ = new QLabel(QStringLiteral("Destination folder:"), this);
    label2_->setObjectName(QStringLiteral("Label2"));
    label1_ = new QLabel(QStringLiteral("0 files copied, 0 errors found."), this);
    label1_->setObjectName(QStringLiteral("Label1"));
    label3_ = new QLabel(this);
    label3_->setObjectName(QStringLiteral("Label3"));
    label3_->hide();
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("ListView1"));
    list_->setAccessibleName(QStringLiteral("Errors"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    auto* saveAsButton = new QPushButton(QStringLiteral("&Save As..."), this);
    saveAsButton->setObjectName(QStringLiteral("Command2"));
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    connect(saveAsButton, &QPushButton::clicked, this, &SummaryWindow::saveAs);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label2_);
    layout->addWidget(label1_);
    layout->addWidget(label3_);
    layout->addWidget(list_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(saveAsButton);
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    // Room for about 80 characters by 20 lines of the font in use.
    resize(QSize(fontMetrics().averageCharWidth() * 80, fontMetrics().lineSpacing() * 20)
               .expandedTo(sizeHint()));
}

void SummaryWindow::showSummary(const QList<QByteArray>& errorEntries,
                                const QList<QString>& reasons, int copiedCount,
                                const QString& destinationText, int verifiedCount) {
    for (qsizetype i = 0; i < errorEntries.size(); ++i) {
        host_.yield();
        show();
        list_->setUpdatesEnabled(false);
        entries_.append(errorEntries.at(i));
        // A name is shown escaped: a line feed in it cannot split the item.
        list_->addItem(DecodePath(ShownPath(EscapedName(errorEntries.at(i)))));
        if (!reasons.value(i).isEmpty())
            list_->item(list_->count() - 1)->setToolTip(reasons.value(i));
    }
    list_->setUpdatesEnabled(true);
    label1_->setText(QString::number(copiedCount) + QStringLiteral(" files copied, ") +
                     QString::number(errorEntries.size()) + QStringLiteral(" errors found."));
    label2_->setText(ShownPath(destinationText));
    if (verifiedCount >= 0)
        label3_->setText(VerifiedText(verifiedCount));
    label3_->setVisible(verifiedCount >= 0);
}

void SummaryWindow::saveAs() {
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Save;
    request.filter = QStringLiteral("Text file (*.txt)|*.txt");
    const QString path = host_.fileDialog(request);
    if (path.isEmpty())
        return;
    // Written whole and renamed into place, so it replaces an existing file
    // entirely and a failure leaves that file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const QByteArray& entry : std::as_const(entries_)) {
        host_.yield();
        // One line per entry, whatever its name holds.
        const QByteArray line = ShownPath(EscapedName(entry)) + "\r\n";
        if (file.write(line) != line.size())
            return;
    }
    file.commit();
}

}  // namespace zandrel
