#pragma once
// The program's one message-box service: every window's boxes, titled "提示" unless a title is given. A test
// can answer them in advance, or have every box answered by its default button, so that a window test never
// waits on a dialog; such boxes are recorded instead of shown.

#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/messages.h"

namespace tandrel {

class MessageBoxes {
  public:
    struct Shown {
        QMessageBox::Icon icon;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton answer;
        QString title;
        QWidget* parent;
    };

    static QString Title();

    // A modal box owned by parent; returns the button chosen. defaultButton NoButton: the first of buttons.
    static QMessageBox::StandardButton Show(
        QWidget* parent, QMessageBox::Icon icon, const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // The same with a title of its own (the vendor's notices).
    static QMessageBox::StandardButton ShowTitled(
        QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // The same box without waiting for it: shown application-modal and deleted when closed, so its owner can
    // keep its text current (a countdown). Null when a test answers it, recorded as Show records.
    static QMessageBox* Open(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                             const QString& text);

    // The box Show makes, not yet shown: wide enough for its whole title (a narrow box cuts it off).
    static std::unique_ptr<QMessageBox> Build(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                              const QString& text, QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton);

    // A "提示" box for a text of the program's own (GBK), its icon as the operations report it.
    static void Show(QWidget* parent, MessageIcon icon, const std::string& gbkText);

    // Tests. The next box is not shown and answers this (answers queue up, first in first out).
    static void SetNextAnswer(QMessageBox::StandardButton answer);
    // With unattended on, a box without a queued answer is not shown either and answers its default button.
    static void SetUnattended(bool on);
    // The boxes that were answered without being shown, oldest first.
    static const std::vector<Shown>& Recorded();
    static void ClearRecorded();
};

// Opens an address or a folder in the desktop's program for it (through injected, when given: tests). When
// the desktop has nothing to open it with, a warning box owned by owner says so, with the address.
void OpenExternally(QWidget* owner, const QUrl& url, const std::function<void(const QUrl&)>& injected);

}  // namespace tandrel
