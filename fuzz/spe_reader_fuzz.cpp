// Fuzz target: any bytes as an SPE file must open or fail cleanly, and every frame (every
// region of it, and the lower half of its rows alone) of a file that opens must read without
// touching memory outside the frame.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "orlix/spe_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/spe_fuzz_" + std::to_string(getpid()) + ".spe";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
    auto spe = orlix::SpeFile::Open(path);
    if (spe.ok()) {
        fits::Frame frame;
        const auto& info = spe.value()->Info();
        const std::int64_t half = info.rows / 2, count = info.rows - half;
        std::vector<std::uint8_t> rows(
            static_cast<std::size_t>(count * info.columns * orlix::DatatypeSize(info.datatype)));
        for (std::int64_t k = 0; k < info.frames && k < 64; ++k) {
            (void)spe.value()->ReadFrame(k, frame);
            (void)spe.value()->ReadRows(k, half, count, rows);
            for (std::size_t r = 0; r < info.regions.size() && r < 16; ++r)
                (void)spe.value()->ReadRegion(k, r, frame);
        }
    }
    std::remove(path.c_str());
    return 0;
}
