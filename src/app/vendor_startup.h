#pragma once
// Start-up with the vendor's service, in the window: the start-up window on top while the version check
// runs, then either the end of the process (no usable record; an update handed to the updater) or the main
// window with the announced version in its title, the support text in its status bar and the notice window
// three seconds after it opens. Without a vendor address nothing of this runs.

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <memory>

#include "app/app_core.h"
#include "net/endpoints.h"
#include "update/startup_window.h"
#include "update/version_check.h"
#include "update/window_services.h"

namespace tandrel {

class MainWindow;

class VendorStartup : public QObject, public StartupShell {
    Q_OBJECT

  public:
    // How long a start-up window that shows a start-up notice stays on top of the main window (closing it
    // earlier is always possible).
    static constexpr int kNoticeLingerMs = 10000;

    VendorStartup(Endpoints endpoints, std::filesystem::path programDir, VendorWindowServices services);
    ~VendorStartup() override;

    // StartupShell: a box says the folder is taken; the start-up window shows the check.
    void FolderBusy(const std::string& text) override;
    bool VendorCheck(const PageReader& read) override;
    // The check alone, its pages read with the window live. False: the process ends now, with exitCode().
    bool Run();
    int exitCode() const { return exitCode_; }
    const VersionCheckResult& result() const { return result_; }
    // The version for the main window's title: the announced one, or the built-in one without a check.
    QString announcedVersion() const;
    StartupWindow* startupWindow() const { return startup_; }

    // Connects the main window's initialisation and notice steps.
    void Attach(MainWindow& window);
    // Tests: a shorter stay for the start-up notice.
    void SetNoticeLinger(std::chrono::milliseconds linger) { noticeLinger_ = linger; }

  private:
    void OpenNoticeWindow(MainWindow& window);

    Endpoints endpoints_;
    VendorAddresses addresses_;
    std::filesystem::path programDir_;
    VendorWindowServices services_;
    VersionCheckResult result_;
    QPointer<StartupWindow> startup_;
    std::chrono::milliseconds noticeLinger_{kNoticeLingerMs};
    bool noticeShown_ = false;
    bool noticeWindowOpened_ = false;
    int exitCode_ = 0;
};

}  // namespace tandrel
