#pragma once
// What the vendor windows ask of their surroundings, so that tests can see opened pages without a desktop.
// Their boxes go through the one message-box service.

#include <QDesktopServices>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>

#include "widgets/message_boxes.h"
#include "widgets/window_frame.h"

namespace tandrel {

struct VendorWindowServices {
    // Opens a page in the default browser; null: the desktop's.
    std::function<void(const QUrl&)> openUrl;

    void Message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) const {
        MessageBoxes::ShowTitled(parent, icon, title, text);
    }
    // A box that is not waited for (null when a test answers it).
    QMessageBox* OpenMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                             const QString& text) const {
        return MessageBoxes::Open(parent, icon, title, text);
    }
    void Open(const QUrl& url) const {
        if (openUrl)
            openUrl(url);
        else
            QDesktopServices::openUrl(url);
    }
};

}  // namespace tandrel
