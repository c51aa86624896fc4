#pragma once
// The store file's key in the system keyring (Secret Service on Linux, Credential Manager on Windows), the
// way browsers keep their cookie key. One key per user account, made on first need. A keyring that is not
// there (no session bus on a server, say) is known at once instead of being waited for.

#include <QString>
#include <chrono>
#include <functional>
#include <optional>

#include "stores/store_file.h"

namespace tandrel {

class KeyringKeys : public StoreKeySource {
  public:
    // note receives the line of Note, once per run.
    explicit KeyringKeys(std::function<void(const std::string&)> note,
                         QString service = QStringLiteral("Tandrel"),
                         QString entry = QStringLiteral("store-file-key"));

    // The first answer is kept for the run: the keyring is asked once.
    Answer Read(std::string& key) override;
    bool Write(const std::string& key) override;
    void Note(const std::string& line) override;

    // How long a keyring that says nothing is waited for.
    static constexpr std::chrono::milliseconds kPatience{5000};

  private:
    std::function<void(const std::string&)> note_;
    QString service_, entry_;
    std::optional<Answer> answer_;
    std::string key_;
    bool noted_ = false;
};

// Whether a keyring could answer at all: on Linux, a session bus to ask it over.
bool KeyringReachable();

}  // namespace tandrel
