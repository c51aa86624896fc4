#include "update/startup_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>

#include "assets/assets.h"
#include "support/qt_text.h"
#include "update/window_services.h"
#include "widgets/fixed_layout.h"

namespace tandrel {

StartupWindow::StartupWindow(const QString& title, QWidget* parent) : QWidget(parent, Qt::Window) {
    InitAssets();
    setWindowTitle(title);
    setFixedSize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);

    logo_ = Place(new QLabel(this), "图片框_logo", {0, 0, 562, 168});
    logo_->setAlignment(Qt::AlignCenter);
    logo_->setPixmap(QPixmap(QStringLiteral(":/logo/tandrel_logo.gif")));

    notice_ = Place(new QPlainTextEdit(this), "编辑框_通知", {0, 0, 560, 168});
    notice_->setFont(QFont(QStringLiteral("微软雅黑")));
    notice_->setReadOnly(true);
    notice_->hide();

    support_ = Place(new QLabel(this), "标签_提示", {6, 397, 552, 20});
    support_->setTextFormat(Qt::PlainText);  // the vendor's text is shown, never rendered
}

void StartupWindow::SetStaysOnTop(bool onTop) {
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (!visible) return;
    show();  // changing a window flag hides the window
    raise();
}

bool StartupWindow::SetLogo(const std::string& bytes) {
    QPixmap picture;
    if (bytes.empty() ||
        !picture.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size())))
        return false;
    logo_->setPixmap(picture);
    return true;
}

void StartupWindow::ShowStartupNotice(const std::string& notice) {
    notice_->setPlainText(FromGbk(notice));
    notice_->show();
}

void StartupWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit closed();
}

void StartupWindow::SetSupportText(const std::string& text) {
    support_->setText(FromGbk(text));
}

}  // namespace tandrel
