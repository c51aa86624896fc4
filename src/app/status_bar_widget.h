#pragma once
// The main window's status bar 状态条1: two texts side by side, 320 and 800 pixels wide.

#include <QStatusBar>
#include <QString>
#include <array>
#include <vector>

class QLabel;
class QPushButton;

namespace tandrel {

class StatusBarWidget final : public QStatusBar {
  public:
    static constexpr int kHeight = 24;

    explicit StatusBarWidget(QWidget* parent);
    // Section 0 (320 pixels) or 1 (800 pixels); other numbers do nothing.
    void SetText(int part, const QString& text);
    QString Text(int part) const;
    // Flat buttons at the bar's right end (the settings dialogs, the history), in the order added.
    QPushButton* AddButton(const QString& caption, const char* name);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PlaceButtons();

    std::array<QLabel*, 2> parts_{};
    std::vector<QPushButton*> buttons_;
};

}  // namespace tandrel
