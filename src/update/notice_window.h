#pragma once
// The vendor's notice, opened once after the main window: it cannot be closed until its lock time has run
// out, and its title counts the seconds down.

#include <QDialog>
#include <QPointer>
#include <chrono>
#include <string>

#include "update/window_services.h"

class QMessageBox;
class QPlainTextEdit;
class QTimer;

namespace tandrel {

class NoticeWindow : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kOuterWidth = 532;
    static constexpr int kOuterHeight = 450;

    // notice: GBK, "/换行" for line breaks; lockField: field 17 of the version record. tick: one second,
    // shorter in tests.
    NoticeWindow(const std::string& notice, const std::string& lockField, VendorWindowServices services,
                 QWidget* parent = nullptr, std::chrono::milliseconds tick = std::chrono::seconds(1));

    int lockSeconds() const { return lockSeconds_; }
    int counter() const { return counter_; }
    bool locked() const { return lockSeconds_ > 0 && counter_ < lockSeconds_; }

  public slots:
    // Escape, the close button and close() all arrive here: refused with a message while locked.
    void reject() override;

  private:
    void OnTick();
    bool MayClose();
    QString CloseableIn() const;  // "N秒后可关闭", N the seconds still locked

    VendorWindowServices services_;
    QTimer* timer_ = nullptr;
    // The refusal while it is up: it counts down with the title and goes when the lock ends.
    QPointer<QMessageBox> refusal_;
    int lockSeconds_ = 0;
    int counter_ = 0;
};

}  // namespace tandrel
