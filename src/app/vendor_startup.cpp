#include "app/vendor_startup.h"

#include <QCoreApplication>
#include <QTimer>

#include "app/main_window.h"
#include "net/http_request.h"
#include "net/wait_pumping.h"
#include "support/qt_text.h"
#include "update/headless_check.h"
#include "update/new_version_window.h"
#include "update/notice_window.h"
#include "update/updater_window.h"
#include "update/vendor_hosts.h"
#include "widgets/message_boxes.h"

namespace tandrel {

VendorStartup::VendorStartup(Endpoints endpoints, std::filesystem::path programDir,
                             VendorWindowServices services)
    : endpoints_(std::move(endpoints)),
      addresses_(VendorAddresses::From(endpoints_)),
      programDir_(std::move(programDir)),
      services_(std::move(services)) {
    result_.outcome = VersionCheckResult::Outcome::Continue;
}

VendorStartup::~VendorStartup() {
    delete startup_.data();
}

void VendorStartup::FolderBusy(const std::string& text) {
    exitCode_ = 1;
    MessageBoxes::Show(nullptr, QMessageBox::Warning, QString::fromStdString(text));
}

bool VendorStartup::Run() {
    if (!endpoints_.vendorConfigured()) return true;
    // The pages wait as every request in the window does: the start-up window keeps painting meanwhile.
    const HttpWaitScope waiting([] { QCoreApplication::processEvents(); }, nullptr);
    return VendorCheck(VendorPageReader(addresses_));
}

QString VendorStartup::announcedVersion() const {
    const std::string& announced = result_.record.Field(kFieldVersion);
    return announced.empty() ? QString::fromUtf8(kVersionText.data(), static_cast<int>(kVersionText.size()))
                             : FromGbk(announced);
}

bool VendorStartup::VendorCheck(const PageReader& read) {
    startup_ = new StartupWindow(QString::fromStdString(ProgramTitle(kVersionText, addresses_.site)));
    startup_->SetStaysOnTop(true);
    startup_->show();

    VersionCheckOptions options;
    options.programDir = programDir_;
    options.startupNotice = [this](const std::string& notice) {
        services_.Message(startup_, QMessageBox::Information, QStringLiteral("收到系统消息"),
                          QStringLiteral("有通知！请查收"));
        if (startup_) startup_->ShowStartupNotice(notice);
        noticeShown_ = true;
    };
    result_ = RunVersionCheck(read, addresses_, options);

    switch (result_.outcome) {
        case VersionCheckResult::Outcome::Failed:
            services_.Message(startup_, QMessageBox::Warning, QStringLiteral("提示"),
                              FromGbk(StartupFailureText()));
            services_.Open(QUrl(QString::fromStdString(addresses_.site)));
            WaitPumping(1000000);
            exitCode_ = 1;
            return false;
        case VersionCheckResult::Outcome::NewerVersion: {
            exitCode_ = 1;
            if (!SelfUpdateAllowed(UpdaterOptions::BuiltInUpdateKeyText(), programDir_)) {
                NewVersionWindow manual(result_.record.Field(kFieldManualDownload), result_.supportText,
                                        QString::fromStdString(addresses_.site), services_, startup_);
                manual.exec();
                return false;
            }
            UpdaterOptions updaterOptions;
            updaterOptions.programDir = programDir_;
            updaterOptions.referer = addresses_.site;
            UpdaterWindow updater(result_.record, updaterOptions, result_.supportText,
                                  QString::fromStdString(addresses_.site), services_, startup_);
            updater.Begin();
            updater.exec();
            exitCode_ = updater.result() == UpdaterWindow::Result::Failed ? 1 : 0;
            return false;
        }
        case VersionCheckResult::Outcome::Continue:
            break;
    }
    if (!result_.logo.empty()) startup_->SetLogo(result_.logo);
    startup_->SetSupportText(result_.supportText);
    // A start-up notice must not disappear behind the main window that opens next: the window keeps its
    // place on top until it is closed or its time is up (Attach).
    startup_->SetStaysOnTop(noticeShown_);
    return true;
}

void VendorStartup::Attach(MainWindow& window) {
    connect(&window, &MainWindow::initialisationStarted, this, [this, &window] {
        if (startup_) {
            if (noticeShown_) {
                startup_->raise();
                QTimer::singleShot(noticeLinger_, startup_.data(), &QWidget::close);
            } else {
                startup_->close();
            }
        }
        window.SetStatusText(1, FromGbk(result_.supportText));
    });
    connect(&window, &MainWindow::noticeDue, this, [this, &window] { OpenNoticeWindow(window); });
}

void VendorStartup::OpenNoticeWindow(MainWindow& window) {
    if (noticeWindowOpened_ || !endpoints_.vendorConfigured()) return;
    const std::string& key = result_.record.Field(kFieldNoticeKey);
    if (key == "0") return;
    // One notice at a time: a start-up notice still on top would cover the notice window and, the notice
    // window being modal, could not be closed. The notice window follows it.
    if (startup_ && startup_->isVisible() && noticeShown_) {
        // Queued: the window is hidden only once its close event has been handled.
        connect(
            startup_.data(), &StartupWindow::closed, this, [this, &window] { OpenNoticeWindow(window); },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    noticeWindowOpened_ = true;
    // Modal, but without an event loop of its own: a monitoring pass that is waiting when the notice opens
    // (the demo starts one at once) goes on while the notice is read.
    auto* notice =
        new NoticeWindow(result_.windowNotice, result_.record.Field(kFieldNoticeLock), services_, &window);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->setWindowModality(Qt::ApplicationModal);
    notice->show();
}

}  // namespace tandrel
