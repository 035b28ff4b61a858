// Writes a fuzz target's seeds, one file each, into the folder named on the command line, and replays
// each through the target once so that a seed which already fails is caught here.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzSeeds.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    int n = 0;
    for (const auto& seed : fuzzSeeds()) {
        std::ofstream(dir / ("seed-" + std::to_string(n++)), std::ios::binary)
            .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    }
    std::printf("%d seeds\n", n);
    return 0;
}
