#pragma once
// The main window's status bar 状态条1: two texts side by side, 320 and 800 pixels wide.

#include <QStatusBar>
#include <QString>
#include <array>

class QLabel;

namespace tandrel {

class StatusBarWidget final : public QStatusBar {
  public:
    static constexpr int kHeight = 24;

    explicit StatusBarWidget(QWidget* parent);
    // Section 0 (320 pixels) or 1 (800 pixels); other numbers do nothing.
    void SetText(int part, const QString& text);

  private:
    std::array<QLabel*, 2> parts_{};
};

}  // namespace tandrel
