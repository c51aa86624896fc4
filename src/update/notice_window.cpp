#include "update/notice_window.h"

#include <QFont>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>

#include "support/qt_text.h"
#include "update/version_record.h"
#include "widgets/fixed_layout.h"

namespace tandrel {

NoticeWindow::NoticeWindow(const std::string& notice, const std::string& lockField,
                           VendorWindowServices services, QWidget* parent, std::chrono::milliseconds tick)
    : QDialog(parent), services_(std::move(services)) {
    setWindowTitle(QStringLiteral("通知"));
    setFixedSize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
    auto* text = Place(new QPlainTextEdit(this), "编辑框_通知", {0, 0, 526, 422});
    text->setFont(QFont(QStringLiteral("微软雅黑")));
    text->setReadOnly(true);
    text->setPlainText(FromGbk(NoticeDisplayText(notice)));

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("时钟_通知计时"));
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &NoticeWindow::OnTick);
    lockSeconds_ = NoticeLockSeconds(lockField);
    if (lockSeconds_ > 0) {
        timer_->setInterval(tick);
        timer_->start();
    }
}

void NoticeWindow::OnTick() {
    ++counter_;
    if (counter_ >= lockSeconds_) {
        setWindowTitle(QStringLiteral("通知"));
        timer_->stop();
        if (refusal_) refusal_->close();  // nothing left to refuse
        return;
    }
    setWindowTitle(QStringLiteral("通知 - ") + CloseableIn());
    if (refusal_) refusal_->setText(QStringLiteral("请仔细看通知，很重要！") + CloseableIn());
}

QString NoticeWindow::CloseableIn() const {
    return QString::number(lockSeconds_ - counter_) + QStringLiteral("秒后可关闭");
}

bool NoticeWindow::MayClose() {
    if (!locked()) return true;
    if (refusal_) {
        refusal_->raise();
        refusal_->activateWindow();
        return false;
    }
    // Not waited for: the seconds it names keep counting with the title's while it is up.
    refusal_ = services_.OpenMessage(this, QMessageBox::Information, QStringLiteral("提示"),
                                     QStringLiteral("请仔细看通知，很重要！") + CloseableIn());
    return false;
}

void NoticeWindow::reject() {
    if (MayClose()) QDialog::reject();
}

}  // namespace tandrel
