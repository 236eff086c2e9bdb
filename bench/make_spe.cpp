// Writes a large SPE file for the benchmark: make-spe PATH COLUMNS ROWS FRAMES DATATYPE
// (datatype 2 = int16, 3 = uint16). Samples are a cheap deterministic pattern.
#include <cstdio>
#include <cstdlib>

#include "orlix/spe_file.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: make-spe PATH COLUMNS ROWS FRAMES DATATYPE\n");
        return 2;
    }
    const long columns = std::atol(argv[2]), rows = std::atol(argv[3]), frames = std::atol(argv[4]);
    const auto datatype = static_cast<std::int16_t>(std::atoi(argv[5]));
    auto file = orlix::SpeFile::Create(argv[1], columns, rows, frames, datatype);
    if (!file) {
        std::fprintf(stderr, "%s\n", file.message().c_str());
        return 1;
    }
    fits::Frame frame(fits::ElementType::Int16, columns, rows);
    auto samples = frame.Elements<std::int16_t>();
    for (long k = 0; k < frames; ++k) {
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] =
                static_cast<std::int16_t>((i * 7 + static_cast<std::size_t>(k) * 13) & 0xFFFF);
        if (auto s = file.value()->WriteFrame(k, frame); !s) {
            std::fprintf(stderr, "%s\n", s.message().c_str());
            return 1;
        }
    }
    return file.value()->Flush() ? 0 : 1;
}
