#pragma once
// The settings controls of the main window (the five check boxes and the four number boxes), the start
// button that the cycle switches off while it runs, and the update-log panel that a setting hides. The panel
// is not a widget of its own: its controls sit in the client area among the others, created where the window
// places them in its drawing order. It shows the settings (SettingsControls), saves every change the
// merchant makes, and is what the cycle reads and drives (MonitorControls).

#include <QObject>
#include <QRect>
#include <QString>
#include <array>
#include <string>

#include "monitor/monitor_cycle.h"
#include "settings/settings.h"
#include "widgets/caption_widgets.h"

class QLineEdit;
class QPushButton;
class QWidget;

namespace tandrel {

// The ASCII digits of a number box's text: full-width digits converted, everything else dropped.
QString PlainDigits(const QString& text);

class SettingsPanel final : public QObject, public SettingsControls, public MonitorControls {
  public:
    SettingsPanel(SettingsFile& settings, QObject* parent);

    // The controls, each made in parent at its place; every change is saved at once.
    GapCheckBox* AddFlagBox(SettingFlag flag, const QString& caption, const char* name, const QRect& geometry,
                            QWidget* parent);
    QLineEdit* AddNumberEdit(SettingNumber number, const char* text, const char* name, const QRect& geometry,
                             QWidget* parent);
    void SetStartButton(QPushButton* button) { startButton_ = button; }
    void SetUpdatePanel(QWidget* panel) { updatePanel_ = panel; }

    // SettingsControls
    void SetUpdatePanelVisible(bool visible) override;
    void SetFlagChecked(SettingFlag flag, bool checked) override;
    void SetNumberText(SettingNumber number, const std::string& text) override;
    // MonitorControls
    bool RemainingFilterChecked() const override;
    std::string MonitorIntervalText() const override;
    void SetStartEnabled(bool enabled) override;

  private:
    SettingsFile& settings_;
    std::array<GapCheckBox*, 5> flagBoxes_{};  // by SettingFlag
    std::array<QLineEdit*, 4> numberEdits_{};  // by SettingNumber
    QPushButton* startButton_ = nullptr;
    QWidget* updatePanel_ = nullptr;
};

}  // namespace tandrel
