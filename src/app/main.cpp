// Entry point. The windows and the monitoring commands are being built; for now the program states what it
// is.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts("Usage: tandrel [--help] [--version]");
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Tandrel 1.3.1");
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "Usage: tandrel [--help] [--version]\n");
        return 2;
    }
    std::puts("Tandrel 1.3.1: the main window is not built yet; see README.md for what works.");
    return 0;
}
