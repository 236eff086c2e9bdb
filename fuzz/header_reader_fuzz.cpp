// Fuzz target: any bytes as a FITS or text header file, and as header text for the card
// parser, the value lookup and the header block, must be handled without a fault.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fits/convert/fits_writer.h"
#include "fits/header/header_values.h"
#include "fits/input/header_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/header_fuzz_" + std::to_string(getpid()) + ".fit";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
    auto read = fits::ReadFileHeader(path);
    std::string text = read ? *read : read.message();
    std::remove(path.c_str());

    std::string raw(reinterpret_cast<const char*>(data), size);
    for (const std::string* header : {&text, &raw}) {
        (void)fits::GetHeaderValues(*header,
                                    fits::kNaxis1 | fits::kNaxis2 | fits::kNaxis3 | fits::kBitpix);
        (void)fits::BuildHeaderBlock(*header);
        fits::ForEachLine(*header, [](fits::Pos, std::string_view line) {
            (void)fits::GetComment(line);
            std::string value = fits::GetValue(line);
            std::string card =
                fits::BuildCard(fits::GetKeyword(line), value, fits::ValueType::kString, "");
            return true;
        });
    }
    return 0;
}
