#include "fits/header/header_values.h"

#include <gtest/gtest.h>

#include "fits/header/fits_format.h"

namespace fits {
namespace {

TEST(GetHeaderValue, FirstExactMatchWins) {
    const std::string text =
        "NAXIS1  = 5\r\nnaxis2  = 7\r\nNAXIS1  = 9\r\nOBJECT  = 'a / b' / c\r\n";
    const std::pair<const char*, const char*> cases[] = {
        {"NAXIS1", "5"}, {"naxis2", "7"}, {"NAXIS2", ""}, {"OBJECT", "a / b"}, {"", ""},
    };
    for (const auto& [keyword, value] : cases)
        EXPECT_EQ(GetHeaderValue(text, keyword), value);
}

TEST(GetHeaderValues, OrderAndStopRule) {
    const std::string full = "BITPIX  = 16\r\nNAXIS1  = 3\r\nNAXIS2  = 2\r\nNAXIS3  = 4\r\n";
    const std::string bad_bitpix = "BITPIX  = x\r\nNAXIS1  = 3\r\nNAXIS2  = 2\r\nNAXIS3  = 4\r\n";
    const struct {
        std::string text;
        std::optional<std::int32_t> n1, n2, n3, bp;
    } cases[] = {
        {full, 3, 2, 4, 16},
        {"BITPIX  = 16\r\nNAXIS1  = 3\r\n", 3, 1, 1, 16},
        {bad_bitpix, 3, std::nullopt, std::nullopt, std::nullopt},
        {"BITPIX  = 16\r\nNAXIS2  = 2\r\nNAXIS3  = 4\r\n", std::nullopt, std::nullopt, std::nullopt,
         std::nullopt},
        {"NAXIS1  = 2.5\r\nBITPIX  = 8\r\nNAXIS2  = abc\r\n", 2, std::nullopt, std::nullopt, 8},
        {"NAXIS1  = 3.5\r\nBITPIX  = -32\r\nNAXIS3  = 1E2\r\n", 4, 1, 100, -32},
        {"NAXIS1  = 3.5\r\nBITPIX  = -32\r\nNAXIS3  = 1D2\r\n", 4, 1, 100, -32},
    };
    for (const auto& c : cases) {
        HeaderValues v = GetHeaderValues(c.text, kNaxis1 | kNaxis2 | kNaxis3 | kBitpix);
        EXPECT_EQ(v.naxis1, c.n1) << c.text;
        EXPECT_EQ(v.naxis2, c.n2) << c.text;
        EXPECT_EQ(v.naxis3, c.n3) << c.text;
        EXPECT_EQ(v.bitpix, c.bp) << c.text;
    }
    HeaderValues only = GetHeaderValues(bad_bitpix, kNaxis3);
    EXPECT_EQ(only.naxis3, 4);  // BITPIX not asked: it does not stop the reading
    EXPECT_FALSE(only.naxis1);
}

TEST(FitsFormat, BigEndianBytesAndBlockPadding) {
    std::uint8_t b[8] = {};
    StoreBig<std::int16_t>(b, -2);
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[1], 0xFE);
    StoreBig<std::int32_t>(b, 0x01020304);
    EXPECT_EQ((std::vector<int>{b[0], b[1], b[2], b[3]}), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(LoadBig<std::int32_t>(b), 0x01020304);
    StoreBig<float>(b, 1.0f);  // IEEE 754: 3F 80 00 00
    EXPECT_EQ((std::vector<int>{b[0], b[1], b[2], b[3]}), (std::vector<int>{0x3F, 0x80, 0, 0}));
    StoreBig<double>(b, -2.0);  // C0 00 .. 00
    EXPECT_EQ(b[0], 0xC0);
    EXPECT_EQ(LoadBig<double>(b), -2.0);

    const std::pair<std::int64_t, std::int64_t> padding[] = {{0, 0},    {1, 2879}, {80, 2800},
                                                             {2879, 1}, {2880, 0}, {2881, 2879}};
    for (auto [size, pad] : padding)
        EXPECT_EQ(BlockPadding(size), pad) << size;
}

}  // namespace
}  // namespace fits
