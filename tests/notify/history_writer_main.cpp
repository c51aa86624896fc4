// Appends rows to the history from a separate process: history_writer DATADIR TAG COUNT [EPOCHSECONDS].
#include <chrono>
#include <cstdlib>
#include <string>

#include "notify/history_file.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    tandrel::HistoryFile history(argv[1]);
    const int count = std::atoi(argv[3]);
    const auto time = argc > 4
                          ? std::chrono::system_clock::time_point(std::chrono::seconds(std::atoll(argv[4])))
                          : std::chrono::system_clock::now();
    for (int i = 0; i < count; ++i) {
        tandrel::ReportedGroup g;
        g.time = time;
        g.storeId = argv[2];
        g.storeName = std::string(300, 'x');  // long rows make interleaving visible
        g.goodsId = std::to_string(i);
        g.orderSn = std::string(argv[2]) + "-" + std::to_string(i);
        if (!history.Append({g})) return 1;
    }
    return 0;
}
