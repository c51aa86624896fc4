#include "stores/keyring_keys.h"

#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <memory>

#if __has_include(<qt6keychain/keychain.h>)
#include <qt6keychain/keychain.h>
#else
#include <keychain.h>
#endif

namespace tandrel {
namespace {

// Runs a keychain job to its end, or until patience runs out (the job then ends on its own and deletes
// itself; its answer goes nowhere).
bool RunJob(QKeychain::Job* job, QKeychain::Error& error, QString* secret) {
    struct Outcome {
        bool done = false;
        QKeychain::Error error = QKeychain::OtherError;
        QString secret;
    };
    auto outcome = std::make_shared<Outcome>();
    QEventLoop loop;
    job->setAutoDelete(true);
    QObject::connect(job, &QKeychain::Job::finished, &loop, [outcome, &loop](QKeychain::Job* finished) {
        outcome->done = true;
        outcome->error = finished->error();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
            outcome->secret = read->textData();
        loop.quit();
    });
    QTimer::singleShot(KeyringKeys::kPatience, &loop, &QEventLoop::quit);
    job->start();
    if (!outcome->done) loop.exec();
    error = outcome->error;
    if (secret) *secret = outcome->secret;
    return outcome->done;
}

}  // namespace

bool KeyringReachable() {
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS"); bus && *bus) return true;
    // A user session's bus at its well-known place, used when the variable is not set.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    return runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec);
#endif
}

KeyringKeys::KeyringKeys(std::function<void(const std::string&)> note, QString service, QString entry)
    : note_(std::move(note)), service_(std::move(service)), entry_(std::move(entry)) {}

StoreKeySource::Answer KeyringKeys::Read(std::string& key) {
    if (!answer_) {
        answer_ = Answer::NoKeyring;
        if (KeyringReachable()) {
            auto* job = new QKeychain::ReadPasswordJob(service_);
            job->setKey(entry_);
            QKeychain::Error error;
            QString secret;
            if (RunJob(job, error, &secret)) {
                if (error == QKeychain::NoError && !secret.isEmpty()) {
                    answer_ = Answer::Key;
                    key_ = secret.toStdString();
                } else if (error == QKeychain::EntryNotFound) {
                    answer_ = Answer::NoKey;
                }
            }
        }
    }
    key = *answer_ == Answer::Key ? key_ : std::string();
    return *answer_;
}

bool KeyringKeys::Write(const std::string& key) {
    if (answer_ == Answer::NoKeyring || !KeyringReachable()) return false;
    auto* job = new QKeychain::WritePasswordJob(service_);
    job->setKey(entry_);
    job->setTextData(QString::fromStdString(key));
    QKeychain::Error error;
    if (!RunJob(job, error, nullptr) || error != QKeychain::NoError) return false;
    answer_.reset();  // asked again, so that what the keyring kept is what is used
    return true;
}

void KeyringKeys::Note(const std::string& line) {
    if (noted_) return;
    noted_ = true;
    if (note_) note_(line);
}

}  // namespace tandrel
