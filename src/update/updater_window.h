#pragma once
// The self-update's window: the download's progress and remaining time while the package arrives. Every
// control is updated on the GUI thread; the download and its progress report from threads of their own.

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "update/updater.h"
#include "update/window_services.h"

class QLabel;
class QProgressBar;

namespace tandrel {

class UpdaterWindow : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kOuterWidth = 380;
    static constexpr int kOuterHeight = 126;

    enum class Result {
        Pending,
        NotNewer,        // closed at once: nothing to update
        UpdaterStarted,  // the updater program has taken over: the process ends
        Failed,          // the new-version window was shown: the process ends
    };

    // supportText: GBK; site: the vendor's software page (UTF-8).
    UpdaterWindow(VersionRecord record, UpdaterOptions options, std::string supportText, QString site,
                  VendorWindowServices services, QWidget* parent = nullptr);
    ~UpdaterWindow() override;

    // Begins the update; call before exec(). Closes the window at once when there is nothing to download.
    void Begin();
    Result result() const { return result_; }

    // The progress as the download reports it (GUI thread).
    void ShowProgress(std::int64_t total, std::int64_t received, std::int64_t elapsedMs);

  signals:
    void updateEnded(tandrel::UpdaterWindow::Result result);

  private:
    void Finish(UpdateOutcome outcome);

    VersionRecord record_;
    std::string supportText_;
    QString site_;
    VendorWindowServices services_;
    QLabel* label_ = nullptr;
    QProgressBar* progress_ = nullptr;
    Result result_ = Result::Pending;
    std::unique_ptr<Updater> updater_;  // last: its threads stop before the rest goes
};

}  // namespace tandrel
