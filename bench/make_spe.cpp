// Writes a large SPE file for the benchmark: make-spe PATH COLUMNS ROWS FRAMES DATATYPE
// (SPE datatype: 0 float32, 1 int32, 2 int16, 3 uint16, 6 uint8). Samples are a cheap
// deterministic pattern of the file's own element type.
#include <cstdio>
#include <cstdlib>

#include "orlix/spe_file.h"

namespace {

template <class T>
void Fill(fits::Frame& frame, long k) {
    auto samples = frame.Elements<T>();
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<T>((i * 7 + static_cast<std::size_t>(k) * 13) & 0xFFFF);
}

void Fill(fits::Frame& frame, long k) {
    switch (frame.Type()) {
        case fits::ElementType::kUInt8:
            return Fill<std::uint8_t>(frame, k);
        case fits::ElementType::kInt16:
            return Fill<std::int16_t>(frame, k);
        case fits::ElementType::kInt32:
            return Fill<std::int32_t>(frame, k);
        case fits::ElementType::kFloat32:
            return Fill<float>(frame, k);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: make-spe PATH COLUMNS ROWS FRAMES DATATYPE\n");
        return 2;
    }
    const long columns = std::atol(argv[2]), rows = std::atol(argv[3]), frames = std::atol(argv[4]);
    const auto datatype = static_cast<std::int16_t>(std::atoi(argv[5]));
    auto element = orlix::DatatypeElement(datatype);
    auto file = orlix::SpeFile::Create(argv[1], columns, rows, frames, datatype);
    if (!file || !element) {
        std::fprintf(stderr, "%s\n", file ? "unsupported datatype" : file.message().c_str());
        return 1;
    }
    fits::Frame frame(*element, columns, rows);
    for (long k = 0; k < frames; ++k) {
        Fill(frame, k);
        if (auto s = file.value()->WriteFrame(k, frame); !s) {
            std::fprintf(stderr, "%s\n", s.message().c_str());
            return 1;
        }
    }
    return file.value()->Flush() ? 0 : 1;
}
