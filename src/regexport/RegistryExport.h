#pragma once
// The registry export window (registryfrm): starts the system's registry
// editor once per chosen part, each writing a ".reg" file into a folder the
// user picks. A modal dialog.

#include <QDialog>
#include <QString>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace zandrel {

class Host;

class RegistryExport : public QDialog {
    Q_OBJECT
  public:
    explicit RegistryExport(Host& host, QWidget* parent = nullptr);

    static constexpr int kAllEntry = 5;  // "All of the above!"
    // folder + "/" + part + ".reg"; the folder is used as given, so the root
    // gives a doubled separator.
    static QString exportFileOf(const QString& folder, const QString& part);
    // The registry editor's arguments: /e, the file, the part. A list, so that
    // no character of a folder name can split them.
    static QStringList argumentsOf(const QString& folder, const QString& part);

  public slots:
    void done(int result) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void exportSelected();
    // Starts the registry editor without waiting; returns the failure's
    // description, or the empty text.
    QString startDetached(const QStringList& arguments);
    void setStarting(bool starting);

    Host& host_;
    QString exportList_;     // the files of the last export, each followed by CR LF
    bool starting_ = false;  // from the controls' disabling until they come back

    QGroupBox* frame_ = nullptr;     // Frame1
    QLabel* note_ = nullptr;         // Label3
    QPushButton* select_ = nullptr;  // Command1
    QComboBox* parts_ = nullptr;     // Combo1
    QLabel* working_ = nullptr;      // Label2
    QLabel* question_ = nullptr;     // Label1
};

}  // namespace zandrel
