#pragma once
// The listing editor (newfrm): creates, changes or deletes one Listing of the
// document. A modal dialog; everything it does goes through the document, the
// host and the status text.

#include <QDialog>
#include <QtGlobal>
#include <array>

#include "listing/Listing.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace zandrel {

class BackupList;
class Host;

class ListingEditor : public QDialog {
    Q_OBJECT
  public:
    // editIndex: -1 for a new Listing, else the 1-based row being edited (any
    // row of the list, however long).
    ListingEditor(BackupList& doc, Host& host, int editIndex, QWidget* parent = nullptr);

    // The key rules for typed characters, and the same cleaning for text that
    // arrives by pasting or dropping.
    static bool isAcceptedFilterKey(const QString& currentText, QChar typed);
    static bool isAcceptedDescriptionKey(QChar typed);
    static QString cleanFilterText(const QString& text);
    static QString cleanDescriptionText(const QString& text);

    static constexpr int kDescriptionMaxLength = 100;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  public slots:
    void done(int result) override;

  private:
    void buildControls();
    void setTabOrders();
    void connectChanges();
    void fill();
    QRadioButton* ruleOption(ExistingFileRule rule) const;
    ExistingFileRule checkedRule() const;
    void chooseFolder(QLineEdit* box, const QString& title);
    void confirm();
    bool checkFolderTexts();
    bool checkDestination();
    void cancel();
    void deleteListing();
    void markChanged() { editorChanged_ = true; }

    BackupList& doc_;
    Host& host_;
    const int editIndex_;
    bool editorChanged_ = false;
    bool closed_ = false;

    QTabWidget* tabs_ = nullptr;
    QLineEdit* source_ = nullptr;               // Text1
    QLineEdit* destination_ = nullptr;          // Text2
    QPushButton* browseSource_ = nullptr;       // Command1
    QPushButton* browseDestination_ = nullptr;  // Command2
    QRadioButton* copy_ = nullptr;              // Option1
    QRadioButton* move_ = nullptr;              // Option2
    QCheckBox* subfolders_ = nullptr;           // Check1
    QCheckBox* justFiles_ = nullptr;            // Check2
    QLineEdit* filter_ = nullptr;               // Text3
    // One per existing-file rule, in the rules' order (Option5 to Option7).
    std::array<QRadioButton*, kExistingFileRuleCount> ruleOptions_{};
    QLineEdit* description_ = nullptr;  // Text5
    QPushButton* ok_ = nullptr;         // Command3
    QPushButton* cancel_ = nullptr;     // Command4
    QPushButton* delete_ = nullptr;     // Command5
};

}  // namespace zandrel
