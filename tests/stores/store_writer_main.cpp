// Test helper: saves and removes stores forever, printing each committed step, until it is killed. With
// "rekey KEY" instead of a start number, it opens the store file once with KEY as the keyring's key (which
// re-keys a file under the built-in key), prints "rekeyed" and ends.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "stores/store_file.h"

namespace {

class FixedKey : public tandrel::StoreKeySource {
  public:
    explicit FixedKey(std::string key) : key_(std::move(key)) {}
    Answer Read(std::string& key) override {
        key = key_;
        return Answer::Key;
    }
    bool Write(const std::string&) override { return false; }
    void Note(const std::string&) override {}

  private:
    std::string key_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    if (std::string(argv[2]) == "rekey" && argc > 3) {
        tandrel::StoreFile file(argv[1], std::make_shared<FixedKey>(argv[3]));
        std::vector<tandrel::StoreRecord> records;
        if (file.ReadAll(records).code != tandrel::kStoreOk) return 1;
        std::printf("rekeyed\n");
        return 0;
    }
    tandrel::StoreFile file(argv[1]);
    for (int i = std::stoi(argv[2]);; ++i) {
        const std::string id = std::to_string(i);
        if (file.SaveStore({.account = "account-" + id,
                            .password = "password",
                            .storeId = id,
                            .storeName = "store " + id,
                            .session = "PASS_ID=" + id + std::string(200, 'c')})
                .code == tandrel::kStoreOk) {
            std::printf("saved %s\n", id.c_str());
            std::fflush(stdout);
        }
        if (i % 3 == 2) {
            const std::string old = std::to_string(i - 2);
            if (file.RemoveStore(old).code == tandrel::kStoreOk) {
                std::printf("removed %s\n", old.c_str());
                std::fflush(stdout);
            }
        }
    }
}
