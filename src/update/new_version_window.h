#pragma once
// Shown when the update could not be installed, or the copy does not update itself: the manual download page
// (field 25) and the support line. "下载" opens the page only when it is an http or https address.

#include <QDialog>
#include <string>

#include "update/window_services.h"

class QLineEdit;

namespace tandrel {

class NewVersionWindow : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kOuterWidth = 610;
    static constexpr int kOuterHeight = 147;

    // GBK texts; site: the vendor's software page (UTF-8), empty when there is none.
    NewVersionWindow(const std::string& downloadPage, const std::string& supportText, const QString& site,
                     VendorWindowServices services, QWidget* parent = nullptr);

    // The support line shown when the service sent none.
    static QString DefaultSupportLine();

  private:
    VendorWindowServices services_;
    QLineEdit* address_ = nullptr;
};

}  // namespace tandrel
