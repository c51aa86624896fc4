#include "app/settings_panel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "support/qt_text.h"
#include "widgets/fixed_layout.h"

namespace tandrel {

SettingsPanel::SettingsPanel(SettingsFile& settings, QObject* parent)
    : QObject(parent), settings_(settings) {}

GapCheckBox* SettingsPanel::AddFlagBox(SettingFlag flag, const QString& caption, const char* name,
                                       const QRect& geometry, QWidget* parent) {
    auto* box = Place(new GapCheckBox(caption, parent), name, geometry);
    flagBoxes_[static_cast<std::size_t>(flag)] = box;
    connect(box, &QCheckBox::clicked, this,
            [this, flag](bool checked) { settings_.SaveFlag(SettingsFile::KeyOf(flag), checked); });
    return box;
}

QString PlainDigits(const QString& text) {
    QString digits;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9') digits += c;
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19) digits += QChar(u'0' + (c.unicode() - 0xFF10));
    }
    return digits;
}

QLineEdit* SettingsPanel::AddNumberEdit(SettingNumber number, const char* text, const char* name,
                                        const QRect& geometry, QWidget* parent) {
    auto* edit = Place(new QLineEdit(QString::fromUtf8(text), parent), name, geometry);
    numberEdits_[static_cast<std::size_t>(number)] = edit;
    // Digits only (with blanks around them): a paste cannot carry lines into Config.ini.
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[ \u3000]*[0-9\uFF10-\uFF19]{0,9}[ \u3000]*")), edit));
    // textEdited, not textChanged: the loads that rewrite the boxes must not write the file again.
    connect(edit, &QLineEdit::textEdited, this, [this, edit, number](const QString& typed) {
        // What the box shows is its value: blanks go and full-width digits become plain ones at once, so
        // "　500" is 500, not the 100 ms a number that starts with a blank would read as.
        const QString value = PlainDigits(typed);
        if (value != typed) edit->setText(value);
        settings_.SaveNumberText(SettingsFile::KeyOf(number), ToGbk(value));
    });
    return edit;
}

void SettingsPanel::SetUpdatePanelVisible(bool visible) {
    if (updatePanel_) updatePanel_->setVisible(visible);
}

void SettingsPanel::SetFlagChecked(SettingFlag flag, bool checked) {
    flagBoxes_[static_cast<std::size_t>(flag)]->setChecked(checked);
}

void SettingsPanel::SetNumberText(SettingNumber number, const std::string& text) {
    numberEdits_[static_cast<std::size_t>(number)]->setText(FromGbk(text));
}

bool SettingsPanel::RemainingFilterChecked() const {
    return flagBoxes_[static_cast<std::size_t>(SettingFlag::RemainingFilter)]->isChecked();
}

std::string SettingsPanel::MonitorIntervalText() const {
    return ToGbk(numberEdits_[static_cast<std::size_t>(SettingNumber::MonitorInterval)]->text());
}

void SettingsPanel::SetStartEnabled(bool enabled) {
    if (startButton_) startButton_->setEnabled(enabled);
}

}  // namespace tandrel
