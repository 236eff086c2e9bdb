#include "fits/input/header_reader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "../../orlix/test_support.h"

namespace fits {
namespace {

using testing_support::TempDir;

std::string Card(const std::string& text) {
    std::string card = text;
    card.resize(80, ' ');
    return card;
}

// n cards KEYn = n, then END, padded to whole blocks, then `after` bytes.
std::string FitsHeader(int n, const std::string& after = "") {
    std::string h;
    for (int i = 1; i <= n; ++i)
        h += Card("KEY" + std::to_string(i) + "    = " + std::to_string(i));
    h += Card("END");
    h.resize((h.size() + 2879) / 2880 * 2880, ' ');
    return h + after;
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ReadFileHeader, FitsAndTextFiles) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
        std::string expected;
    } cases[] = {
        {"one.fit", FitsHeader(8), ""},
        {"trailing.fit", FitsHeader(2).substr(0, 240) + Card("  LATE = 1") + std::string(2560, ' '),
         "KEY1    = 1\r\nKEY2    = 2\r\n  LATE = 1\r\n"},
        {"blank.fit",
         Card("A = 1") + Card("") + Card("B = 2") + Card("END") + std::string(2560, ' '),
         "A = 1\r\nB = 2\r\n"},
        {"sample.FITS", Card("X = 1") + Card("END") + std::string(2720, ' '), "X = 1\r\n"},
        {"noend.fit", Card("A") + "B", "A\r\nB\r\n"},
        {"empty.fit", "", ""},
        {"empty.txt", "", ""},
        {"plain.txt", "  A = 1\r\nB\tx\r\n  ", "A = 1\r\nB\tx\r\n"},
        {"sample.fts", "  X  ", "X"},
    };
    for (int i = 1; i <= 8; ++i)
        cases[0].expected += "KEY" + std::to_string(i) + "    = " + std::to_string(i) + "\r\n";
    for (const auto& c : cases) {
        Write(dir / c.name, c.content);
        EXPECT_EQ(ReadFileHeader(dir / c.name), c.expected) << c.name;
    }
    EXPECT_EQ(ReadFileHeader(dir / "missing.fit"), "");
    EXPECT_EQ(ReadFileHeader(dir.path()), "");
}

// Reading stops at the block holding END: a data block behind it is never read.
TEST(ReadFileHeader, StopsAtBlockHoldingEnd) {
    TempDir dir;
    const std::string data_block = Card("DATA    = 1") + std::string(2800, 'x');
    for (int cards : {35, 36, 37, 71, 400}) {
        std::string name = std::string("h").append(std::to_string(cards)).append(".fit");
        std::string path = dir / name;
        Write(path, FitsHeader(cards, data_block));
        std::string text = ReadFileHeader(path);
        EXPECT_EQ(CountRealLines(text), cards);
        EXPECT_EQ(text.find("DATA"), std::string::npos);
    }
}

// A large file without END (no header at all) is read only up to a bound, not into memory whole.
TEST(ReadFileHeader, LargeFileWithoutEndIsBounded) {
    TempDir dir;
    const std::string path = dir / "data.fit";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string block = Card("X = 1") + std::string(2800, 'z');
        for (int i = 0; i < 8000; ++i)
            out << block;  // 23 MB
    }
    std::string text = ReadFileHeader(path);
    EXPECT_GT(text.size(), 8u << 20);
    EXPECT_LE(text.size(), 17u << 20);
}

TEST(GetHeaderValue, FirstExactMatchWins) {
    const std::string text =
        "NAXIS1  = 5\r\nnaxis2  = 7\r\nNAXIS1  = 9\r\nOBJECT  = 'a / b' / c\r\n";
    const std::pair<const char*, const char*> cases[] = {
        {"NAXIS1", "5"}, {"naxis2", "7"}, {"NAXIS2", ""}, {"OBJECT", "a / b"}, {"", ""},
    };
    for (const auto& [keyword, value] : cases)
        EXPECT_EQ(GetHeaderValue(text, keyword), value);
}

TEST(AppendFileHeader, AppendsBehindCurrentText) {
    TempDir dir;
    Write(dir / "h.fit", FitsHeader(2));
    Write(dir / "h.txt", "C = 3");
    MemoryHeaderStore store;
    SetHeaderText(store, "A = 0\r\n");
    AppendFileHeader(store, dir / "h.fit");
    EXPECT_EQ(store.Text(), "A = 0\r\nKEY1    = 1\r\nKEY2    = 2\r\n");
    EXPECT_EQ(store.NavigatorMaximum(), 3);
    AppendFileHeader(store, dir / "h.txt");
    AppendFileHeader(store, dir / "h.fit");  // the text file left no line end
    EXPECT_EQ(store.Text(),
              "A = 0\r\nKEY1    = 1\r\nKEY2    = 2\r\nC = 3\r\nKEY1    = 1\r\nKEY2    = 2\r\n");
    AppendFileHeader(store, dir / "missing.txt");
    EXPECT_EQ(CountRealLines(store.Text()), 6);
}

TEST(IsFitsName, LowerCaseContainsDotFit) {
    EXPECT_TRUE(IsFitsName("a.FIT"));
    EXPECT_TRUE(IsFitsName("a.fits"));
    EXPECT_TRUE(IsFitsName("/x.fit/a.txt"));
    EXPECT_TRUE(IsFitsName("my.fitness.txt"));
    EXPECT_FALSE(IsFitsName("a.fts"));
    EXPECT_FALSE(IsFitsName("a.txt"));
}

}  // namespace
}  // namespace fits
