#pragma once
// The passphrase of a store backup, asked before 导出店铺备份… (twice, so that a typing slip does not seal
// the stores under a passphrase nobody knows) and before 导入店铺备份… (once). Echo is hidden; 确定 stays
// disabled until the passphrase would be accepted, and a line under the boxes says what is still wrong.

#include <QDialog>
#include <QString>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tandrel {

class BackupPassphraseDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Purpose { Export, Import };
    static constexpr int kWidth = 420;
    static constexpr int kMaxLength = 256;  // characters: a pasted text is bounded

    // fileName: the backup's file, shown so the merchant sees which one is meant.
    BackupPassphraseDialog(Purpose purpose, const QString& fileName, QWidget* parent);

    // Why the passphrase as typed is not accepted yet, or empty.
    QString Refusal() const;
    // The passphrase typed (UTF-8).
    std::string passphrase() const;

  public slots:
    void accept() override;

  private:
    void Review();

    Purpose purpose_;
    QLineEdit* first_ = nullptr;
    QLineEdit* second_ = nullptr;  // Export only
    QLabel* hint_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace tandrel
