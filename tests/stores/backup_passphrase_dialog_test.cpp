#include "stores/backup_passphrase_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace tandrel {
namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

struct Controls {
    QLineEdit* first;
    QLineEdit* second;
    QLabel* hint;
    QPushButton* ok;
};

Controls Find(BackupPassphraseDialog& dialog) {
    return {dialog.findChild<QLineEdit*>(Q("编辑框_备份口令")),
            dialog.findChild<QLineEdit*>(Q("编辑框_确认口令")), dialog.findChild<QLabel*>(Q("标签_口令提示")),
            dialog.findChild<QPushButton*>(Q("按钮_确定"))};
}

TEST(BackupPassphraseDialog, ExportWantsEightCharactersTwiceAlikeBeforeOkWorks) {
    BackupPassphraseDialog dialog(BackupPassphraseDialog::Purpose::Export, Q("/tmp/店铺备份.tbak"), nullptr);
    dialog.show();  // Enter reaches the default button only when it is shown
    const Controls c = Find(dialog);
    ASSERT_TRUE(c.first && c.second && c.hint && c.ok);
    EXPECT_EQ(dialog.objectName(), Q("窗口_备份口令"));
    EXPECT_EQ(c.first->echoMode(), QLineEdit::Password);
    EXPECT_EQ(c.second->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(c.ok->isEnabled());
    EXPECT_EQ(c.hint->text(), Q("请输入口令"));

    // Eight characters, not eight bytes: seven Chinese characters are too short.
    c.first->insert(Q("七个汉字的口令"));  // as typed through an input method
    EXPECT_EQ(c.hint->text(), Q("口令至少需要8个字符，现在只有7个"));
    EXPECT_FALSE(c.ok->isEnabled());
    QTest::keyClicks(c.first, Q("!"));
    EXPECT_EQ(c.hint->text(), Q("请再次输入口令"));
    EXPECT_FALSE(c.ok->isEnabled());
    c.second->insert(Q("七个汉字的口令?"));  // as typed through an input method
    EXPECT_EQ(c.hint->text(), Q("两次输入的口令不一致"));
    EXPECT_FALSE(c.ok->isEnabled());
    // Enter in a box is refused as the button is.
    QTest::keyClick(c.second, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    c.second->clear();
    c.second->insert(Q("七个汉字的口令!"));  // as typed through an input method
    EXPECT_TRUE(c.ok->isEnabled());
    EXPECT_TRUE(dialog.Refusal().isEmpty());
    c.ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.passphrase(), "七个汉字的口令!");
}

TEST(BackupPassphraseDialog, ImportAsksOnceAndShowsTheFileNameAsPlainText) {
    BackupPassphraseDialog dialog(BackupPassphraseDialog::Purpose::Import, Q("<b>备份</b>.tbak"), nullptr);
    dialog.show();  // Enter reaches the default button only when it is shown
    const Controls c = Find(dialog);
    ASSERT_TRUE(c.first && c.hint && c.ok);
    EXPECT_EQ(c.second, nullptr);
    auto* file = dialog.findChild<QLabel*>(Q("标签_备份文件"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->textFormat(), Qt::PlainText);
    EXPECT_TRUE(file->text().contains(Q("<b>备份</b>.tbak")));
    QTest::keyClicks(c.first, Q("short"));
    EXPECT_FALSE(c.ok->isEnabled());
    QTest::keyClicks(c.first, Q(" enough"));
    EXPECT_TRUE(c.ok->isEnabled());
    QTest::keyClick(c.first, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.passphrase(), "short enough");
    EXPECT_EQ(c.first->maxLength(), BackupPassphraseDialog::kMaxLength);
}

}  // namespace
}  // namespace tandrel
