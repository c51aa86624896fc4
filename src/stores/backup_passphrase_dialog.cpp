#include "stores/backup_passphrase_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "stores/store_backup.h"
#include "widgets/fixed_layout.h"

namespace tandrel {
namespace {

QLineEdit* PassphraseEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(BackupPassphraseDialog::kMaxLength);
    return edit;
}

}  // namespace

BackupPassphraseDialog::BackupPassphraseDialog(Purpose purpose, const QString& fileName, QWidget* parent)
    : QDialog(parent), purpose_(purpose) {
    const bool exporting = purpose == Purpose::Export;
    setObjectName(QStringLiteral("窗口_备份口令"));
    setWindowTitle(exporting ? QStringLiteral("导出店铺备份") : QStringLiteral("导入店铺备份"));

    auto* file = Place(new QLabel(this), "标签_备份文件", {12, 12, kWidth - 24, 20});
    file->setTextFormat(Qt::PlainText);  // a file name is shown, never rendered
    file->setText(QStringLiteral("备份文件：") +
                  file->fontMetrics().elidedText(fileName, Qt::ElideMiddle, kWidth - 100));
    file->setToolTip(fileName);
    int y = 42;
    Place(new QLabel(exporting ? QStringLiteral("设置口令") : QStringLiteral("备份口令"), this),
          "标签_备份口令", {12, y + 3, 80, 20});
    first_ = Place(PassphraseEdit(this), "编辑框_备份口令", {96, y, kWidth - 108, 26});
    connect(first_, &QLineEdit::textChanged, this, &BackupPassphraseDialog::Review);
    if (exporting) {
        y += 34;
        Place(new QLabel(QStringLiteral("再次输入"), this), "标签_确认口令", {12, y + 3, 80, 20});
        second_ = Place(PassphraseEdit(this), "编辑框_确认口令", {96, y, kWidth - 108, 26});
        connect(second_, &QLineEdit::textChanged, this, &BackupPassphraseDialog::Review);
    }
    y += 34;
    hint_ = Place(new QLabel(this), "标签_口令提示", {12, y, kWidth - 24, 40});
    hint_->setWordWrap(true);
    hint_->setTextFormat(Qt::PlainText);
    y += 48;
    ok_ = Place(new QPushButton(QStringLiteral("确定"), this), "按钮_确定", {kWidth - 188, y, 84, 32});
    auto* cancel =
        Place(new QPushButton(QStringLiteral("取消"), this), "按钮_取消", {kWidth - 96, y, 84, 32});
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &BackupPassphraseDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(kWidth, y + 44);
    Review();
}

QString BackupPassphraseDialog::Refusal() const {
    const std::size_t length = PassphraseLength(passphrase());
    if (length == 0) return QStringLiteral("请输入口令");
    if (length < kBackupMinPassphrase)
        return QStringLiteral("口令至少需要%1个字符，现在只有%2个").arg(kBackupMinPassphrase).arg(length);
    if (second_ && second_->text().isEmpty()) return QStringLiteral("请再次输入口令");
    if (second_ && second_->text() != first_->text()) return QStringLiteral("两次输入的口令不一致");
    return {};
}

std::string BackupPassphraseDialog::passphrase() const {
    return first_->text().toUtf8().toStdString();
}

void BackupPassphraseDialog::accept() {
    // Enter in a box comes here too, past the disabled button.
    if (!Refusal().isEmpty()) return Review();
    QDialog::accept();
}

void BackupPassphraseDialog::Review() {
    const QString refusal = Refusal();
    ok_->setEnabled(refusal.isEmpty());
    if (!refusal.isEmpty())
        hint_->setText(refusal);
    else if (purpose_ == Purpose::Export)
        hint_->setText(QStringLiteral("请记住这个口令：导入备份时要用它，忘记后无法找回。"));
    else
        hint_->setText(QStringLiteral("口令不对或文件损坏时不会导入任何店铺。"));
}

}  // namespace tandrel
