#pragma once
// The first window of the process: the logo (or a start-up notice laid over it) and the support line, up and
// on top of other windows while the vendor check runs.

#include <QWidget>
#include <string>

class QCloseEvent;
class QLabel;
class QPlainTextEdit;

namespace tandrel {

class StartupWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kOuterWidth = 568;
    static constexpr int kOuterHeight = 450;

    // title: UTF-8.
    explicit StartupWindow(const QString& title, QWidget* parent = nullptr);

    void SetStaysOnTop(bool onTop);
    // Shows picture bytes in any common format; false (and the carried logo stays) when they are unreadable.
    bool SetLogo(const std::string& bytes);
    // GBK texts.
    void ShowStartupNotice(const std::string& notice);
    void SetSupportText(const std::string& text);

  signals:
    // Closed by the merchant or by the program.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* logo_ = nullptr;
    QPlainTextEdit* notice_ = nullptr;
    QLabel* support_ = nullptr;
};

}  // namespace tandrel
