#include "fits/header/header_text.h"

#include <gtest/gtest.h>

namespace fits {
namespace {

const std::string AB = "A\r\nB\r\n";
const std::string AB_OPEN = "A\r\nB";

TEST(HeaderText, CountingAndLineStarts) {
    struct Case {
        std::string text;
        Pos count;
        std::vector<Pos> starts;  // LineStart of lines 0 .. count + 1
    } cases[] = {
        {"", 0, {0, 0, 0}},        {AB, 3, {0, 1, 4, 0, 0}},  {AB_OPEN, 2, {0, 1, 4, 0}},
        {"\r\n", 2, {0, 1, 0, 0}}, {"A\rB\nC", 1, {0, 1, 0}}, {"\r\n\r\nX", 3, {0, 1, 3, 5, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CountLines(c.text), c.count);
        for (std::size_t n = 0; n < c.starts.size(); ++n)
            EXPECT_EQ(LineStart(c.text, static_cast<Pos>(n)), c.starts[n]) << n;
    }
    EXPECT_EQ(LineStart(AB, -1), 0);
}

TEST(HeaderText, GetLine) {
    EXPECT_EQ(GetLine("", 1), "");
    EXPECT_EQ(GetLine(AB, 1), "A\r\n");
    EXPECT_EQ(GetLine(AB, 2), "B\r\n");
    EXPECT_EQ(GetLine(AB, 3), "");
    EXPECT_EQ(GetLine(AB_OPEN, 2), "B");
    EXPECT_EQ(GetLine(AB_OPEN, 0), "");
}

TEST(HeaderText, InsertCardPositions) {
    const std::string card = "X       \r\n";
    struct Case {
        std::string text;
        Pos n;
        std::string result;
    } cases[] = {
        {"", 1, card},
        {"", -1, card},
        {"", 5, card},
        {AB, 1, card + AB},
        {AB, 2, "A\r\n" + card + "B\r\n"},
        {AB, 3, AB + card},
        {AB, -1, AB + card},
        {AB, 0, AB + card},
        // A last line without a line end gets one before the appended card.
        {AB_OPEN, -1, AB + card},
        {AB_OPEN, 2, "A\r\n" + card + "B"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        InsertCard(text, "x", "", ValueType::kNone, "", c.n);
        EXPECT_EQ(text, c.result) << c.n;
    }
}

TEST(HeaderText, RemoveLine) {
    struct Case {
        std::string text;
        Pos n;
        std::string result;
    } cases[] = {
        {AB, 1, "B\r\n"},      {AB, 2, "A\r\n"}, {AB, 3, AB}, {AB, 0, AB},
        {AB_OPEN, 2, "A\r\n"}, {"A\r\n", 1, ""}, {"", 1, ""}, {AB_OPEN, 1, "B"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        RemoveLine(text, c.n);
        EXPECT_EQ(text, c.result) << c.n;
    }
}

TEST(HeaderStore, SetHeaderTextBound) {
    MemoryHeaderStore store;
    store.SetNavigatorMaximum(7);
    SetHeaderText(store, "");
    EXPECT_EQ(store.NavigatorMaximum(), 7);  // empty text leaves the bound
    EXPECT_EQ(store.Changes(), 1);
    SetHeaderText(store, AB);
    EXPECT_EQ(store.NavigatorMaximum(), 2);
    SetHeaderText(store, AB_OPEN);
    EXPECT_EQ(store.NavigatorMaximum(), 2);
    store.SetSelectionStart(3);
    SetHeaderText(store, "A\r\n");
    EXPECT_EQ(store.NavigatorMaximum(), 1);
    EXPECT_EQ(store.SelectionStart(), 0);
}

TEST(HeaderStore, SelectCaretLine) {
    struct Case {
        std::string text;
        Pos caret;     // 0-based selection start
        Pos expected;  // navigator value afterwards (starts at 1 unless moved)
    } cases[] = {
        {AB, 0, 1},
        {AB, 1, 1},
        {AB, 3, 2},
        {AB, 6, 2},
        {AB, 5, 2},
        {"A\r\nB\r\nC", 6, 3},
        {"A\r\nB\r\nC", 7, 3},
        {"A\r\nB\r\nC", 2, 1},
    };
    for (const auto& c : cases) {
        MemoryHeaderStore store;
        SetHeaderText(store, c.text);
        store.SetNavigatorValue(1);
        store.SetSelectionStart(c.caret);
        SelectCaretLine(store);
        EXPECT_EQ(store.NavigatorValue(), c.expected) << c.caret;
    }
    MemoryHeaderStore empty;
    int before = empty.Changes();
    SelectCaretLine(empty);
    EXPECT_EQ(empty.Changes(), before);
}

// The old platform stopped at 32,767 characters and lines; nothing here may.
TEST(HeaderText, BeyondOld16BitLimits) {
    std::string text;
    for (int i = 0; i < 40000; ++i)
        text.append("C").append(std::to_string(i)).append("\r\n");
    EXPECT_EQ(CountLines(text), 40001);
    EXPECT_EQ(GetLine(text, 39000), "C38999\r\n");
    InsertCard(text, "last", "1", ValueType::kInteger, "", 40000);
    EXPECT_EQ(GetKeyword(GetLine(text, 40000)), "LAST");
    RemoveLine(text, 40000);
    EXPECT_EQ(GetLine(text, 40000), "C39999\r\n");
    MemoryHeaderStore store;
    SetHeaderText(store, text);
    EXPECT_EQ(store.NavigatorMaximum(), 40000);
    store.SetSelectionStart(static_cast<Pos>(text.size()));
    SelectCaretLine(store);
    EXPECT_EQ(store.NavigatorValue(), 40000);
}

}  // namespace
}  // namespace fits
