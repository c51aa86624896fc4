#include "update/updater_window.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "support/qt_text.h"
#include "update/new_version_window.h"
#include "widgets/fixed_layout.h"

namespace tandrel {

UpdaterWindow::UpdaterWindow(VersionRecord record, UpdaterOptions options, std::string supportText,
                             QString site, VendorWindowServices services, QWidget* parent)
    : QDialog(parent),
      record_(record),
      supportText_(std::move(supportText)),
      site_(std::move(site)),
      services_(std::move(services)),
      updater_(std::make_unique<Updater>(std::move(record), std::move(options))) {
    setWindowTitle(QStringLiteral("软件正在升级，请稍等..."));
    setFixedSize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
    label_ = Place(new QLabel(QStringLiteral("升级进度"), this), "标签1", {9, 18, 356, 16});
    progress_ = Place(new QProgressBar(this), "进度条1", {9, 40, 356, 24});
    progress_->setRange(0, 100);
    progress_->setValue(0);
}

UpdaterWindow::~UpdaterWindow() {
    updater_.reset();  // joins the download before the controls it reports to are gone
}

void UpdaterWindow::Begin() {
    auto progress = [this](std::int64_t, std::int64_t total, std::int64_t received, std::int64_t elapsed) {
        QMetaObject::invokeMethod(
            this, [this, total, received, elapsed] { ShowProgress(total, received, elapsed); },
            Qt::QueuedConnection);
    };
    auto finished = [this](UpdateOutcome outcome) {
        QMetaObject::invokeMethod(
            this, [this, outcome] { Finish(outcome); }, Qt::QueuedConnection);
    };
    switch (updater_->Begin(progress, finished)) {
        case UpdaterBegin::NotNewer:
            result_ = Result::NotNewer;
            QTimer::singleShot(0, this, [this] {
                emit updateEnded(result_);
                reject();
            });
            return;
        case UpdaterBegin::NotAllowed:
            QTimer::singleShot(0, this, [this] { Finish(UpdateOutcome::Failed); });
            return;
        case UpdaterBegin::StaleUpdaterStarted:
            result_ = Result::UpdaterStarted;
            QTimer::singleShot(0, this, [this] {
                emit updateEnded(result_);
                accept();
            });
            return;
        case UpdaterBegin::Downloading:
            return;
    }
}

void UpdaterWindow::ShowProgress(std::int64_t total, std::int64_t received, std::int64_t elapsedMs) {
    progress_->setValue(ProgressPercent(total, received));
    const std::string remaining = RemainingTimeText(elapsedMs, total, received);
    if (!remaining.empty()) label_->setText(FromGbk(remaining));
}

void UpdaterWindow::Finish(UpdateOutcome outcome) {
    if (outcome == UpdateOutcome::Installed) {
        result_ = Result::UpdaterStarted;
        emit updateEnded(result_);
        accept();
        return;
    }
    result_ = Result::Failed;
    emit updateEnded(result_);
    NewVersionWindow window(record_.Field(kFieldManualDownload), supportText_, site_, services_, this);
    window.setObjectName(QStringLiteral("最新版下载网址"));
    window.exec();
    reject();
}

}  // namespace tandrel
