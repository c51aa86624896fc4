// The demo's simulated market in a process of its own, for soak runs that measure the program alone:
//   tandrel_demo_market DATA_DIR
// seeds the demo stores into DATA_DIR, prints the market's base URL on one line, then opens groups every
// TANDREL_DEMO_STEP_MS (default 3000) until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "app/demo.h"
#include "support/files.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tandrel_demo_market DATA_DIR\n";
        return 2;
    }
    // Blocked before any thread starts, so every thread leaves them to the wait below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    tandrel::DemoMarket market;
    if (!market.SeedStores(tandrel::PathFromUtf8(argv[1]), std::cerr)) return 1;
    long stepMs = 3000;
    if (const char* text = std::getenv("TANDREL_DEMO_STEP_MS"); text && *text) stepMs = std::atol(text);
    market.StartStepping(std::chrono::milliseconds(std::max(10L, stepMs)));
    std::cout << market.endpoints().merchant.Url("http", "") << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
