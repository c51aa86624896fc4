// Test helper: saves and removes stores forever, printing each committed step, until it is killed.
#include <cstdio>
#include <string>

#include "stores/store_file.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    tandrel::StoreFile file(argv[1]);
    for (int i = std::stoi(argv[2]);; ++i) {
        const std::string id = std::to_string(i);
        if (file.SaveStore("store " + id, "account-" + id, "password", id,
                           "PASS_ID=" + id + std::string(200, 'c'))
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
