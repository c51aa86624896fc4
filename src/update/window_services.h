#pragma once
// What the vendor windows ask of their surroundings, so that tests can answer message boxes and see opened
// pages without a desktop.

#include <QDesktopServices>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>

#include "widgets/window_frame.h"

namespace tandrel {

struct VendorWindowServices {
    // A modal message box; null: a plain QMessageBox.
    std::function<void(QWidget* parent, QMessageBox::Icon, const QString& title, const QString& text)>
        showMessage;
    // Opens a page in the default browser; null: the desktop's.
    std::function<void(const QUrl&)> openUrl;

    void Message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) const {
        if (showMessage) {
            showMessage(parent, icon, title, text);
            return;
        }
        QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
        box.exec();
    }
    void Open(const QUrl& url) const {
        if (openUrl)
            openUrl(url);
        else
            QDesktopServices::openUrl(url);
    }
};

}  // namespace tandrel
