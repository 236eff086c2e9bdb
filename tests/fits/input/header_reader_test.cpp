#include "fits/input/header_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
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
         "A       = 1\r\nB       = 2\r\n"},
        {"sample.FITS", Card("X = 1") + Card("END") + std::string(2720, ' '), "X       = 1\r\n"},
        {"empty.txt", "", ""},
        {"plain.txt", "  A = 1\r\nB x\r\n  ", "A       = 1\r\nB x\r\n"},
        {"lf.txt", "A = 1\nB = 2\n", "A       = 1\r\nB       = 2\r\n"},
        {"cr.txt", "A = 1\rB = 2\r\rC", "A       = 1\r\nB       = 2\r\n\r\nC"},
        {"mixed.txt", "A\r\nB\nC\rD", "A\r\nB\r\nC\r\nD"},
        {"eighty.txt", std::string(80, 'K'), std::string(80, 'K')},
        {"sample.fts", "  X  ", "X"},
        // What the header says of its own file's making is left out: the provenance HISTORY
        // and an axis whose values stand in that file's table; other HISTORY and axes stay.
        {"made.txt",
         "DATE    = '2026-01-02'\nHISTORY written by fits-convert 1\nHISTORY options: "
         "--metadata\nHISTORY mine\nCTYPE1  = 'WAVE-TAB'\nCUNIT1  = 'nm'\nPS1_0   = 'WCS-TAB'"
         "\nPV1_3   = 1\nCRPIX1  = 1\nCTYPE2  = 'PIXEL'\nCRPIX12 = 3",
         "HISTORY mine\r\nCTYPE2  = 'PIXEL'\r\nCRPIX12 = 3"},
        // A file converted from a data file: its facts go too, and a long name's run-on card.
        {"conv.txt",
         "HISTORY converted from " + std::string(58, 'n') +
             "\nHISTORY n.spe\nHISTORY options: "
             "--metadata\nHISTORY mine\nDATE-OBS= '2020-01-01'\nROWS2   = '1:9'\nOBSERVER= 'x'",
         "HISTORY mine\r\nOBSERVER= 'x'"},
        {"conv2.txt", "HISTORY converted from x.spe\nHISTORY flat-fielded", "HISTORY flat-fielded"},
        {"made.fit",
         Card("HISTORY options: --bzero") + Card("CTYPE3  = 'WAVE-TAB'") + Card("X       = 1") +
             Card("PS3_1   = 'WAVELENGTH'") + Card("END") + std::string(2560, ' '),
         "X       = 1\r\n"},
    };
    for (int i = 1; i <= 8; ++i)
        cases[0].expected += "KEY" + std::to_string(i) + "    = " + std::to_string(i) + "\r\n";
    for (const auto& c : cases) {
        Write(dir / c.name, c.content);
        auto read = ReadHeaderTemplate(dir / c.name);
        ASSERT_TRUE(read) << c.name << ": " << read.message();
        EXPECT_EQ(*read, c.expected) << c.name;
    }
}

// A header file that cannot be used fails with the file, the line and the reason: a FITS
// header must never receive tabs, control bytes, UTF-8 or lines beyond 80 characters.
TEST(ReadFileHeader, RefusesWhatAHeaderCannotHold) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.txt");
    const struct {
        const char* name;
        std::string content;  // nothing written when empty
        std::string message;
    } cases[] = {
        {"missing.fit", "", "missing.fit: cannot open: No such file or directory"},
        {"folder.txt", "", "folder.txt: is a folder"},
        {"tab.txt", "A = 1\nB\tx", "tab.txt: line 2 holds the byte 0x09 (tab)"},
        {"nul.txt", std::string("A\0B", 3), "nul.txt: line 1 holds the byte 0x00 (NUL)"},
        {"utf8.txt", "A\r\nOBSERVER= 'J\xC3\xBCrgen'", "utf8.txt: line 2 holds the byte 0xC3"},
        {"long.txt", "A\n\nX       = '" + std::string(75, 'x') + "'",
         "long.txt: line 3 is 87 characters"},
        {"binary.fit", Card("A = 1") + Card("B = \x01") + Card("END"),
         "binary.fit: line 2 holds the byte 0x01"},
        {"lower.txt", "OBSERVER= 'me'\nobsrv   = 1", "lower.txt: line 2 has the keyword \"obsrv\""},
        {"dot.txt", "DATE.OBS= 1", "dot.txt: line 1 has the keyword \"DATE.OBS\""},
        // A FITS header without END is cut short (or no header at all).
        {"noend.fit", Card("A") + "B", "noend.fit: the header ends after 2 cards without an END"},
        {"cut.fit", std::string(2880, ' ') + Card("A = 1"), "after 37 cards without an END card"},
        {"padded.fit", (Card("A = 1") + Card("B = 2")).append(2720, ' '), "after 2 cards without"},
    };
    for (const auto& c : cases) {
        if (!c.content.empty()) Write(dir / c.name, c.content);
        auto read = ReadFileHeader(dir / c.name);
        ASSERT_FALSE(read) << c.name;
        EXPECT_NE(read.message().find(c.message), std::string::npos) << read.message();
    }
}

// A text header ends at its END line; what follows is left out, with a warning unless it is
// blank. Keywords that merely contain END, or END beyond the keyword field, do not end it.
TEST(ReadFileHeader, TextHeaderEndsAtEnd) {
    TempDir dir;
    const struct {
        std::string content, expected, warning;
    } cases[] = {
        {"OBSERVER= 'Ann'\nEND\nJUNK    = 1\n", "OBSERVER= 'Ann'\r\n", "end.txt: line 2 is END"},
        {"A = 1\r\nEND     \r\n  \r\n", "A       = 1\r\n", ""},
        {"END", "", ""},
        {"ENDTIME = 1\nCOMMENT END\nB = 2", "ENDTIME = 1\r\nCOMMENT END\r\nB       = 2", ""},
    };
    for (const auto& c : cases) {
        Write(dir / "end.txt", c.content);
        std::vector<std::string> warnings;
        auto read = ReadFileHeader(dir / "end.txt", &warnings);
        ASSERT_TRUE(read) << read.message();
        EXPECT_EQ(*read, c.expected) << c.content;
        ASSERT_EQ(warnings.size(), c.warning.empty() ? 0u : 1u) << c.content;
        if (!c.warning.empty()) {
            EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
        }
    }
}

// Reading stops at the block holding END: a data block behind it is never read.
TEST(ReadFileHeader, StopsAtBlockHoldingEnd) {
    TempDir dir;
    const std::string data_block = Card("DATA    = 1") + std::string(2800, 'x');
    for (int cards : {35, 36, 37, 71, 400}) {
        std::string name = std::string("h").append(std::to_string(cards)).append(".fit");
        std::string path = dir / name;
        Write(path, FitsHeader(cards, data_block));
        std::string text = *ReadFileHeader(path);
        EXPECT_EQ(CountRealLines(text), cards);
        EXPECT_EQ(text.find("DATA"), std::string::npos);
    }
}

// A large source is refused whole, never cut in the middle of a card: a FITS file without
// END in its first 16 MiB (no header at all), a text file over 16 MiB.
TEST(ReadFileHeader, SourcesBeyondTheLimitAreRefusedWhole) {
    TempDir dir;
    const std::string fits = dir / "data.fit", text = dir / "big.txt";
    {
        std::ofstream out(fits, std::ios::binary), big(text, std::ios::binary);
        const std::string block = Card("X = 1") + std::string(2800, 'z');
        for (int i = 0; i < 8000; ++i)
            out << block;  // 23 MB
        for (int i = 0; i < 210000; ++i)
            big << "COMMENT " << std::string(70, 'c') << "\r\n";  // 16.6 MB
    }
    auto read = ReadFileHeader(fits);
    ASSERT_FALSE(read);
    EXPECT_NE(read.message().find("no END card in the first 16 MiB"), std::string::npos);
    read = ReadFileHeader(text);
    ASSERT_FALSE(read);
    EXPECT_NE(read.message().find("big.txt: is larger than 16 MiB"), std::string::npos);
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
    EXPECT_EQ(
        store.Text(),
        "A = 0\r\nKEY1    = 1\r\nKEY2    = 2\r\nC       = 3\r\nKEY1    = 1\r\nKEY2    = 2\r\n");
    EXPECT_FALSE(AppendFileHeader(store, dir / "missing.txt"));
    EXPECT_EQ(CountRealLines(store.Text()), 6);
}

// Behind cards that already describe the data, a whole FITS file's structural cards would
// repeat SIMPLE, BITPIX, NAXIS... (an invalid file), and its scaling cards would change every
// value a reader sees (BZERO 32768 of an unsigned image); table cards, lower-case keywords and
// a keyword repeated within the file make an invalid primary header: all left out, named once.
TEST(AppendHeaderText, LeavesOutStructuralCardsBehindSimple) {
    const std::string file =
        "SIMPLE  = T\r\nBITPIX  = 16\r\nNAXIS   = 2\r\nNAXIS1  = 4\r\nNAXIS2  = 4\r\n"
        "EXTEND  = T\r\nBZERO   = 32768\r\nBSCALE  = 1\r\nBLANK   = 0\r\nOBSERVER= 'me'\r\n"
        "XTENSION= 'IMAGE'\r\nPCOUNT  = 0\r\nGCOUNT  = 1\r\nGROUPS  = T\r\nNAXISX  = 1\r\n"
        "BZERO2  = 5\r\nTFIELDS = 1\r\nTZERO1  = 0\r\nTFORM12 = 'E'\r\nTZEROX  = 1\r\n"
        "exptime = 5\r\nOBSERVER= 'again'\r\nHISTORY a\r\nHISTORY a\r\n";
    const std::string kept_after =
        "NAXISX  = 1\r\nBZERO2  = 5\r\nTZEROX  = 1\r\n"
        "HISTORY a\r\nHISTORY a\r\n";
    const std::vector<std::string> before_observer = {
        "SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "EXTEND", "BZERO", "BSCALE", "BLANK"};
    const std::vector<std::string> after_observer = {"XTENSION", "PCOUNT", "GCOUNT",  "GROUPS",
                                                     "TFIELDS",  "TZERO1", "TFORM12", "exptime"};
    auto joined = [&](bool observer, bool observer_at_end) {
        std::vector<std::string> v = before_observer;
        if (observer) v.push_back("OBSERVER");
        v.insert(v.end(), after_observer.begin(), after_observer.end());
        if (observer_at_end) v.push_back("OBSERVER");
        return v;
    };
    const struct {
        std::string before, after;
        std::vector<std::string> left_out;
    } cases[] = {
        // The file's second OBSERVER is left out behind its first.
        {"SIMPLE  = T\r\nBITPIX  = 8\r\n",
         "SIMPLE  = T\r\nBITPIX  = 8\r\nOBSERVER= 'me'\r\n" + kept_after, joined(false, true)},
        // Without SIMPLE the file's header is the whole structure: taken as it stands.
        {"A = 1", "A = 1\r\n" + file, {}},
        {"", file, {}},
        // A keyword the header already holds is not repeated; commentary cards may repeat.
        {"SIMPLE  = T\r\nOBSERVER= 'you'\r\n", "SIMPLE  = T\r\nOBSERVER= 'you'\r\n" + kept_after,
         joined(true, false)},
    };
    for (const auto& c : cases) {
        std::string text = c.before;
        EXPECT_EQ(AppendHeaderText(text, file), c.left_out);
        EXPECT_EQ(text, c.after);
    }
    // The warning says which reason left each card out.
    EXPECT_EQ(
        LeftOutWarning("a\nb.fit", {"SIMPLE", "OBSERVER", "NAXIS", "exptime", "RA (why)"}),
        "a\\x0Ab.fit: left out SIMPLE, NAXIS (cards the converter writes itself); exptime "
        "(keywords not in FITS form); OBSERVER (keywords the header already holds); RA (why)");
    // Cards FITS readers would refuse are left out with their reason.
    std::string text = "SIMPLE  =                    T\r\n";
    const auto left_out = AppendHeaderText(
        text, "OBJECT  = 'M31\r\nRA      = NAN\r\nGAIN    = 2\r\nEPOCH   = 2000.\r\n");
    ASSERT_EQ(left_out.size(), 3u);
    EXPECT_EQ(left_out[0], "OBJECT (has a string value without its closing quote)");
    EXPECT_EQ(left_out[1].rfind("RA (has the value \"NAN\"", 0), 0u) << left_out[1];
    EXPECT_EQ(left_out[2].rfind("EPOCH (is EPOCH", 0), 0u) << left_out[2];
    EXPECT_EQ(text, "SIMPLE  =                    T\r\nGAIN    = 2\r\n");
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
