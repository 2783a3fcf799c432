#include "editor/ListingEditor.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "common/FileSystem.h"
#include "common/Host.h"
#include "common/Paths.h"
#include "listing/BackupList.h"
#include "listing/Listing.h"
#include "picker/BrowseFolder.h"

namespace zandrel {

namespace {

constexpr qint32 kPickerFlags = 65;  // file-system folders only, resizable, "new folder" MakeButton

const QString kErrorNotice = QStringLiteral("Error notice");

// Neither may appear in a field: "<" separates the fields, "|" is part of the
// filter's marker.
bool IsLineBreaker(QChar c) {
    return c == u'<' || c == u'|';
}

QLabel* BoldLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QPushButton* MakeButton(const QString& caption, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    // Enter never confirms the window.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QRadioButton* MakeOption(const QString& caption, const QString& name, QWidget* parent) {
    auto* o = new QRadioButton(caption, parent);
    o->setObjectName(name);
    return o;
}

QCheckBox* MakeCheck(const QString& caption, const QString& name, QWidget* parent) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QLineEdit* MakeTextBox(const QString& name, QWidget* parent) {
    auto* t = new QLineEdit(parent);
    t->setObjectName(name);
    return t;
}

// Replaces a box's text and keeps the caret where it was relative to the
// characters that stayed.
void ReplaceKeepingCaret(QLineEdit* box, const QString& cleaned,
                         const std::function<bool(QChar)>& dropped) {
    const QString before = box->text();
    const qsizetype caret = box->cursorPosition();
    qsizetype removedBeforeCaret = 0;
    for (qsizetype i = 0; i < caret && i < before.size(); ++i)
        if (dropped(before.at(i)))
            ++removedBeforeCaret;
    box->setText(cleaned);
    box->setCursorPosition(static_cast<int>(caret - removedBeforeCaret));
}

bool IsRefusedInDescription(QChar c) {
    return IsLineBreaker(c) || c == u';';
}

}  // namespace

ListingEditor::ListingEditor(BackupList& doc, Host& host, int editIndex, QWidget* parent)
    : QDialog(parent), doc_(doc), host_(host), editIndex_(editIndex) {
    buildControls();
    setTabOrders();
    fill();
    connectChanges();
    // Typing goes to the first box of the tab order, not to the tab bar.
    source_->setFocus();
}

bool ListingEditor::isAcceptedFilterKey(const QString& currentText, QChar typed) {
    if (IsLineBreaker(typed))
        return false;
    // The whole text's end counts, wherever the caret stands.
    return !(typed == u';' && currentText.endsWith(u';'));
}

bool ListingEditor::isAcceptedDescriptionKey(QChar typed) {
    return !IsRefusedInDescription(typed);
}

QString ListingEditor::cleanFilterText(const QString& text) {
    QString cleaned = text;
    cleaned.removeIf(IsLineBreaker);
    return cleaned;
}

QString ListingEditor::cleanDescriptionText(const QString& text) {
    QString cleaned = text;
    cleaned.removeIf(IsRefusedInDescription);
    return cleaned;
}

void ListingEditor::buildControls() {
    setObjectName(QStringLiteral("newfrm"));
    setWindowTitle(QStringLiteral("New listing"));
    setModal(true);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("SSTab1"));

    // Directories
    auto* directories = new QWidget(tabs_);
    auto* directoryInfo = new QGroupBox(QStringLiteral("Directory info"), directories);
    source_ = MakeTextBox(QStringLiteral("Text1"), directoryInfo);
    destination_ = MakeTextBox(QStringLiteral("Text2"), directoryInfo);
    browseSource_ = MakeButton(QStringLiteral(".."), QStringLiteral("Command1"), directoryInfo);
    browseDestination_ =
        MakeButton(QStringLiteral(".."), QStringLiteral("Command2"), directoryInfo);
    // The ".." caption does not say what the buttons do; screen readers say it.
    browseSource_->setAccessibleName(QStringLiteral("Browse for the source directory"));
    browseDestination_->setAccessibleName(QStringLiteral("Browse for the destination directory"));
    source_->setAccessibleName(QStringLiteral("Source directory"));
    destination_->setAccessibleName(QStringLiteral("Destination directory"));
    for (QPushButton* b : {browseSource_, browseDestination_})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    auto* folderGrid = new QGridLayout(directoryInfo);
    folderGrid->addWidget(BoldLabel(QStringLiteral("Source directory:"), directoryInfo), 0, 0);
    folderGrid->addWidget(source_, 1, 0);
    folderGrid->addWidget(browseSource_, 1, 1);
    folderGrid->addWidget(BoldLabel(QStringLiteral("Destination directory:"), directoryInfo), 2, 0);
    folderGrid->addWidget(destination_, 3, 0);
    folderGrid->addWidget(browseDestination_, 3, 1);
    auto* directoriesLayout = new QVBoxLayout(directories);
    directoriesLayout->addWidget(directoryInfo);
    directoriesLayout->addStretch();
    tabs_->addTab(directories, QStringLiteral("Directories"));

    // Settings
    auto* settings = new QWidget(tabs_);
    auto* method = new QGroupBox(QStringLiteral("Method"), settings);
    copy_ = MakeOption(QStringLiteral("Copy files to destination folder"),
                       QStringLiteral("Option1"), method);
    move_ = MakeOption(QStringLiteral("Move files to destination folder"),
                       QStringLiteral("Option2"), method);
    copy_->setChecked(true);
    auto* methodLayout = new QVBoxLayout(method);
    methodLayout->addWidget(copy_);
    methodLayout->addWidget(move_);

    auto* options = new QGroupBox(QStringLiteral("Options"), settings);
    subfolders_ =
        MakeCheck(QStringLiteral("Include sub-folders"), QStringLiteral("Check1"), options);
    justFiles_ = MakeCheck(QStringLiteral("Copy all files to one destination folder"),
                           QStringLiteral("Check2"), options);
    subfolders_->setChecked(true);
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addWidget(subfolders_);
    optionsLayout->addWidget(justFiles_);

    auto* filterFrame = new QGroupBox(QStringLiteral("Filter file types"), settings);
    filter_ = MakeTextBox(QStringLiteral("Text3"), filterFrame);
    filter_->setText(QStringLiteral("*.*"));
    auto* filterLayout = new QVBoxLayout(filterFrame);
    filterLayout->addWidget(filter_);
    for (const QString& hint :
         {QStringLiteral("Filters should be separated by a semi colon."),
          QStringLiteral("Example *.jpg;*.exe"),
          QStringLiteral("File type exclusions should start with - (negative sign)."),
          QStringLiteral("Example -*.bmp;-*.exe")})
        filterLayout->addWidget(new QLabel(hint, filterFrame));

    auto* settingsLayout = new QGridLayout(settings);
    settingsLayout->addWidget(method, 0, 0);
    settingsLayout->addWidget(options, 0, 1);
    settingsLayout->addWidget(filterFrame, 1, 0, 1, 2);
    settingsLayout->setRowStretch(2, 1);
    tabs_->addTab(settings, QStringLiteral("Settings"));

    // File exists
    auto* fileExists = new QWidget(tabs_);
    auto* rule = new QGroupBox(
        QStringLiteral("If a source file already exists in the destination folder:"), fileExists);
    auto* ruleLayout = new QVBoxLayout(rule);
    for (std::size_t i = 0; i < kExistingFileRuleCount; ++i) {
        const ExistingFileRuleRow& row = kExistingFileRules[i];
        ruleOptions_[i] = MakeOption(row.caption.toString(), row.option.toString(), rule);
        ruleLayout->addWidget(ruleOptions_[i]);
    }
    // A new Listing's own rule is the one chosen at first.
    ruleOption(Listing().IfExists)->setChecked(true);
    auto* fileExistsLayout = new QVBoxLayout(fileExists);
    fileExistsLayout->addWidget(rule);
    fileExistsLayout->addStretch();
    tabs_->addTab(fileExists, QStringLiteral("File exists"));

    // Description
    auto* descriptionPage = new QWidget(tabs_);
    description_ = MakeTextBox(QStringLiteral("Text5"), descriptionPage);
    description_->setMaxLength(kDescriptionMaxLength);
    auto* descriptionLayout = new QVBoxLayout(descriptionPage);
    descriptionLayout->addWidget(new QLabel(
        QStringLiteral("Description of listing (example: my written documents)"), descriptionPage));
    descriptionLayout->addWidget(description_);
    descriptionLayout->addStretch();
    tabs_->addTab(descriptionPage, QStringLiteral("Description"));

    tabs_->setCurrentIndex(0);

    ok_ = MakeButton(QStringLiteral("&OK"), QStringLiteral("Command3"), this);
    cancel_ = MakeButton(QStringLiteral("Cancel"), QStringLiteral("Command4"), this);
    delete_ = MakeButton(QStringLiteral("&Delete item"), QStringLiteral("Command5"), this);
    delete_->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(delete_);
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addLayout(buttons);

    connect(browseSource_, &QPushButton::clicked, this,
            [this] { chooseFolder(source_, QStringLiteral("Select Source Folder")); });
    connect(browseDestination_, &QPushButton::clicked, this,
            [this] { chooseFolder(destination_, QStringLiteral("Select Destination Folder")); });
    connect(ok_, &QPushButton::clicked, this, &ListingEditor::confirm);
    connect(cancel_, &QPushButton::clicked, this, &ListingEditor::cancel);
    connect(delete_, &QPushButton::clicked, this, &ListingEditor::deleteListing);

    for (QLineEdit* box : {source_, destination_, filter_, description_})
        box->installEventFilter(this);
}

void ListingEditor::setTabOrders() {
    QList<QWidget*> order = {source_, destination_, browseSource_, browseDestination_,
                             copy_,   move_,        subfolders_,   justFiles_,
                             filter_};
    for (QRadioButton* option : ruleOptions_) order << option;
    order << description_ << ok_ << cancel_ << delete_;
    for (qsizetype i = 0; i + 1 < order.size(); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
}

void ListingEditor::connectChanges() {
    QList<QAbstractButton*> buttons = {copy_, move_};
    for (QRadioButton* option : ruleOptions_) buttons << option;
    buttons << subfolders_ << justFiles_;
    for (QAbstractButton* b : buttons)
        connect(b, &QAbstractButton::clicked, this, &ListingEditor::markChanged);
    for (QLineEdit* box : {source_, destination_, filter_, description_})
        connect(box, &QLineEdit::textChanged, this, &ListingEditor::markChanged);

    // Pasted or dropped text obeys the same rules as typed text.
    connect(filter_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const QString cleaned = cleanFilterText(text);
        if (cleaned != text)
            ReplaceKeepingCaret(filter_, cleaned, IsLineBreaker);
    });
    connect(description_, &QLineEdit::textEdited, this, [this](const QString& text) {
        const QString cleaned = cleanDescriptionText(text);
        if (cleaned != text)
            ReplaceKeepingCaret(description_, cleaned, IsRefusedInDescription);
    });
}

void ListingEditor::fill() {
    if (editIndex_ == -1) {
        editorChanged_ = false;
        return;
    }
    const int row = editIndex_ - 1;
    if (row < 0 || row >= doc_.count())
        return;  // no Listing to show
    setWindowTitle(QStringLiteral("Edit listing"));

    const QString line = doc_.lineAt(row);
    // An absent field leaves its control at its initial value.
    const ListingFields f = DecodeListingLine(line);
    if (f.isMove())
        move_->setChecked(true);
    if (f.sourceFolder)
        source_->setText(*f.sourceFolder);
    if (f.destinationFolder)
        destination_->setText(*f.destinationFolder);
    if (f.noSubfolders.value_or(false))
        subfolders_->setChecked(false);
    if (f.copyJustFiles.value_or(false))
        justFiles_->setChecked(true);
    if (f.ifExists)
        ruleOption(*f.ifExists)->setChecked(true);
    if (f.description) {
        // A longer description from a list file is kept as it is, not cut.
        description_->setMaxLength(
            std::max(kDescriptionMaxLength, static_cast<int>(f.description->size())));
        description_->setText(*f.description);
    }
    filter_->setText(f.filter);
    delete_->show();
    editorChanged_ = false;
}

QRadioButton* ListingEditor::ruleOption(ExistingFileRule rule) const {
    return ruleOptions_[std::size_t(rule)];
}

ExistingFileRule ListingEditor::checkedRule() const {
    // The buttons exclude each other; the last rule stands for none checked.
    for (std::size_t i = 0; i + 1 < kExistingFileRuleCount; ++i)
        if (ruleOptions_[i]->isChecked())
            return kExistingFileRules[i].rule;
    return kExistingFileRules[kExistingFileRuleCount - 1].rule;
}

void ListingEditor::chooseFolder(QLineEdit* box, const QString& title) {
    cBrowseFolder picker(host_);
    picker.lhWnd = this;
    picker.sTitle = title;
    picker.lFlags = kPickerFlags;
    // Starts in the folder already typed, when there is one.
    picker.sFolder = box->text();
    picker.ShowBrowse();
    if (picker.bCancelled)
        return;
    box->setText(picker.sFolder);
}

bool ListingEditor::checkFolderTexts() {
    // Empty fields are named before any existence test could misreport them.
    if (source_->text().isEmpty()) {
        host_.message(Icon::Information, QStringLiteral("Note"),
                      QStringLiteral("Please specify a source folder.\r\n\r\n"));
        return false;
    }
    if (destination_->text().isEmpty()) {
        host_.message(Icon::Information, QStringLiteral("Note"),
                      QStringLiteral("Please specify a destination folder.\r\n\r\n"));
        return false;
    }
    const struct {
        QLineEdit* box;
        const char* which;
    } fields[] = {{source_, "source"}, {destination_, "destination"}};
    for (const auto& f : fields) {
        if (std::none_of(f.box->text().cbegin(), f.box->text().cend(), IsLineBreaker))
            continue;
        host_.message(Icon::Exclamation, kErrorNotice,
                      QStringLiteral("The %1 folder's path contains \"<\" or \"|\", which a list "
                                     "cannot hold.\r\n\r\n%2")
                          .arg(QLatin1String(f.which), f.box->text()));
        return false;
    }
    return true;
}

bool ListingEditor::checkDestination() {
    const QString destination = destination_->text();
    if (FolderExists(destination))
        return true;
    const Answer answer =
        host_.message(Icon::Question, QStringLiteral("Folder not found"),
                      QStringLiteral("Destination folder was not found:\r\n") + destination +
                          QStringLiteral("\r\n\r\nWould you like to create it?"),
                      Buttons::YesNo);
    if (answer != Answer::Yes)
        return false;
    // Everything before the last separator is created, so one is appended.
    fs::MakeFolderPath(EncodePath(destination + kSeparatorText));
    if (FolderExists(destination))
        return true;
    host_.message(Icon::Exclamation, kErrorNotice,
                  QStringLiteral("Destination folder could not be created."));
    return false;
}

void ListingEditor::confirm() {
    if (!checkFolderTexts())
        return;
    if (!FolderExists(source_->text())) {
        host_.message(Icon::Exclamation, kErrorNotice,
                      QStringLiteral("Source folder was not found"));
        return;
    }
    if (!checkDestination())
        return;
    if (!CanWriteToFolder(destination_->text(), host_))
        return;

    // The boxes themselves lose one trailing separator (never the root's).
    for (QLineEdit* box : {source_, destination_}) {
        const QString trimmed = RemoveTrailingSeparator(box->text());
        if (trimmed != box->text())
            box->setText(trimmed);
    }
    if (!checkFolderTexts())
        return;
    // The run's own rule: one folder however it is written.
    if (SameFolder(source_->text(), destination_->text())) {
        host_.message(Icon::Exclamation, kErrorNotice,
                      QStringLiteral("Source/Destination folders are identical."));
        return;
    }

    Listing listing;
    listing.Action = copy_->isChecked() ? ListingAction::Copy : ListingAction::Move;
    listing.SourceFolder = source_->text();
    listing.DestinationFolder = destination_->text();
    listing.IncludeSubfolders = subfolders_->isChecked();
    listing.CopyJustFiles = justFiles_->isChecked();
    listing.IfExists = checkedRule();
    listing.Description = description_->text();
    if (filter_->text().isEmpty())
        filter_->setText(QStringLiteral("*.*"));
    if (filter_->text() == QLatin1String("-"))
        filter_->setText(QStringLiteral("*.*"));
    listing.Filter = filter_->text();

    // The visible list derives from the document, so both stay in step.
    const QString line = EncodeListingLine(listing);
    if (editIndex_ == -1)
        doc_.appendLine(line);
    else
        doc_.replaceLine(editIndex_ - 1, line);
    doc_.setListModified(true);
    accept();
}

void ListingEditor::cancel() {
    editorChanged_ = false;
    reject();
}

void ListingEditor::deleteListing() {
    doc_.removeLine(editIndex_ - 1);
    editorChanged_ = true;
    host_.message(Icon::Information, QStringLiteral("Done"),
                  QStringLiteral("Entry deleted successfully"));
    accept();
}

void ListingEditor::done(int result) {
    // Every way out (OK, Cancel, Esc, Delete, the close box) passes here.
    host_.setStatusText(TasksText(doc_.count()));
    if (editorChanged_)
        doc_.setListModified(true);
    QDialog::done(result);
}

void ListingEditor::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        cancel_->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool ListingEditor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && (watched == source_ || watched == destination_)) {
        // After the click that gave the focus has placed the caret.
        auto* box = static_cast<QLineEdit*>(watched);
        QTimer::singleShot(0, box, &QLineEdit::selectAll);
    } else if (event->type() == QEvent::KeyPress &&
               (watched == filter_ || watched == description_)) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        QString text = static_cast<QLineEdit*>(watched)->text();
        for (const QChar c : typed) {
            if (!c.isPrint())
                break;
            const bool accepted =
                watched == filter_ ? isAcceptedFilterKey(text, c) : isAcceptedDescriptionKey(c);
            if (!accepted)
                return true;
            text += c;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zandrel
