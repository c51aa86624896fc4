#include "app/vendor_startup.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTimer>
#include <chrono>
#include <future>

#include "app/main_window.h"
#include "net/http_request.h"
#include "net/wait_pumping.h"
#include "support/qt_text.h"
#include "update/headless_check.h"
#include "update/new_version_window.h"
#include "update/notice_window.h"
#include "update/updater_window.h"

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

std::string VendorStartup::Read(const std::string& url) {
    // The read runs on a worker so that the start-up window keeps painting while the page arrives.
    auto body = std::async(std::launch::async, [url] { return HttpGetPlain(url); });
    while (body.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        WaitPumping(10000);
    return body.get();
}

QString VendorStartup::announcedVersion() const {
    const std::string& announced = result_.record.Field(kFieldVersion);
    return announced.empty() ? QString::fromUtf8(kVersionText.data(), static_cast<int>(kVersionText.size()))
                             : FromGbk(announced);
}

bool VendorStartup::Run() {
    if (!endpoints_.vendorConfigured()) return true;
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
    result_ = RunVersionCheck([this](const std::string& url) { return Read(url); }, addresses_, options);

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
    startup_->SetStaysOnTop(false);
    return true;
}

void VendorStartup::Attach(MainWindow& window) {
    connect(&window, &MainWindow::initialisationStarted, this, [this, &window] {
        if (startup_) {
            if (noticeShown_)
                QTimer::singleShot(kNoticeLingerMs, startup_.data(), &QWidget::close);
            else
                startup_->close();
        }
        window.SetStatusText(1, FromGbk(result_.supportText));
    });
    connect(&window, &MainWindow::noticeDue, this, [this, &window] { OpenNoticeWindow(window); });
}

void VendorStartup::OpenNoticeWindow(MainWindow& window) {
    if (noticeWindowOpened_ || !endpoints_.vendorConfigured()) return;
    const std::string& key = result_.record.Field(kFieldNoticeKey);
    if (key == "0") return;
    noticeWindowOpened_ = true;
    // Modal, but without an event loop of its own: a monitoring pass that is waiting when the notice opens
    // (the demo starts one at once) goes on while the notice is read.
    auto* notice =
        new NoticeWindow(result_.windowNotice, result_.record.Field(kFieldNoticeLock), services_, &window);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->setWindowModality(Qt::ApplicationModal);
    notice->show();
}

QUrl LocalTutorialUrl() {
    const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("tandrel-tutorial.html"));
    QFile source(QStringLiteral(":/tutorial/tutorial.html"));
    if (source.open(QIODevice::ReadOnly)) {
        QSaveFile target(path);
        if (target.open(QIODevice::WriteOnly)) {
            target.write(source.readAll());
            target.commit();
        }
    }
    return QUrl::fromLocalFile(path);
}

}  // namespace tandrel
