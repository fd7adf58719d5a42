#pragma once
// The "Send to any folder" dialog: a path edit with OK, Cancel and Browse. Browse picks a
// folder with the folder picker and shows the dialog again with it.
#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class TSendToDialog : public QDialog {
    Q_OBJECT

  public:
    // The Browse button's result.
    static constexpr int BrowseResult = 10;

    explicit TSendToDialog(const QString& path, QWidget* owner = nullptr);

    QLabel* Label = nullptr;
    QLineEdit* Edit = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* BrowseButton = nullptr;

    // Runs the dialog (again after every Browse with a picked folder). Returns true and the
    // entered path for OK with a non-empty edit; false for Cancel, an empty edit or a Browse
    // without a picked folder.
    static bool Execute(QString& path, QWidget* owner = nullptr);

    // Tests answer in place of the modal loop: the hook gets the built dialog (its edit holds
    // the given path) and returns QDialog::Accepted, QDialog::Rejected or BrowseResult.
    static inline std::function<int(TSendToDialog&)> ExecHook;
};
