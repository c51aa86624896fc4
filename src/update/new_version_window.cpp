#include "update/new_version_window.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "support/qt_text.h"
#include "widgets/fixed_layout.h"

namespace tandrel {

NewVersionWindow::NewVersionWindow(const std::string& downloadPage, const std::string& supportText,
                                   const QString& site, VendorWindowServices services, QWidget* parent)
    : QDialog(parent), services_(std::move(services)) {
    setWindowTitle(QStringLiteral("最新版下载网址"));
    setFixedSize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);

    auto* title = Place(new QLabel(QStringLiteral("亲，有新版软件了！请下载安装新版软件"), this), "标签1",
                        {-4, 2, 604, 18});
    title->setFont(QFont(QStringLiteral("微软雅黑")));
    title->setAlignment(Qt::AlignCenter);
    address_ = Place(new QLineEdit(FromGbk(downloadPage), this), "编辑框_新版下载网址", {6, 31, 540, 26});
    auto* download = Place(new QPushButton(QStringLiteral("下载"), this), "按钮_下载", {551, 31, 48, 25});
    connect(download, &QPushButton::clicked, this, [this] {
        // The address came over plain HTTP: only a web page goes to the browser; anything else (a file, a
        // share, a script) stays in the box for the user to judge.
        const QUrl address(address_->text().trimmed(), QUrl::StrictMode);
        const QString scheme = address.scheme().toLower();
        if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
            !address.host().isEmpty())
            services_.Open(address);
    });

    auto* link = Place(new QLabel(this), "超级链接框1", {82, 65, 440, 16});
    const QString caption = QStringLiteral("—>>点击-打开-Vorlix-所有软件都在里面可以下载！—>>");
    if (site.isEmpty()) {
        link->setText(caption);
    } else {
        link->setText(
            QStringLiteral("<a href=\"%1\">%2</a>").arg(site.toHtmlEscaped(), caption.toHtmlEscaped()));
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        connect(link, &QLabel::linkActivated, this,
                [this](const QString& url) { services_.Open(QUrl(url)); });
    }

    auto* support = Place(new QLabel(supportText.empty() ? DefaultSupportLine() : FromGbk(supportText), this),
                          "标签_客服QQ", {19, 89, 568, 24});
    support->setTextFormat(Qt::PlainText);  // the vendor's text is shown, never rendered
}

QString NewVersionWindow::DefaultSupportLine() {
    return QStringLiteral("如需帮助，请到软件官网联系客服");
}

}  // namespace tandrel
