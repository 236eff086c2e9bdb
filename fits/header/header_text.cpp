#include "fits/header/header_text.h"

#include <algorithm>

namespace fits {
namespace {

// 1-based start of the line after the one starting at `start`, or 0 when no line end follows.
Pos NextLineStart(std::string_view text, Pos start) {
    auto found = text.find(kLineEnd, static_cast<std::size_t>(start - 1));
    return found == std::string_view::npos ? 0 : static_cast<Pos>(found) + 3;
}

}  // namespace

Pos CountLines(std::string_view text) {
    if (text.empty()) return 0;
    Pos count = 1;
    for (auto p = text.find(kLineEnd); p != std::string_view::npos; p = text.find(kLineEnd, p + 2))
        ++count;
    return count;
}

Pos LineStart(std::string_view text, Pos n) {
    if (n < 1) return 0;
    Pos position = 1;
    for (Pos i = 1; i < n; ++i) {
        position = NextLineStart(text, position);
        if (position == 0) return 0;  // fewer than n lines
    }
    if (text.empty() || position > Len(text)) return 0;
    return position;
}

Pos CountRealLines(std::string_view text) {
    Pos n = CountLines(text);
    return text.ends_with(kLineEnd) ? n - 1 : n;
}

std::string GetLine(std::string_view text, Pos n) {
    Pos s = LineStart(text, n);
    if (s == 0) return {};
    Pos e = NextLineStart(text, s);
    if (e == 0 || e > Len(text)) e = Len(text) + 1;
    return std::string(
        text.substr(static_cast<std::size_t>(s - 1), static_cast<std::size_t>(e - s)));
}

void ForEachLine(std::string_view text, const std::function<bool(Pos, std::string_view)>& visit) {
    if (text.empty()) return;
    std::size_t start = 0;
    for (Pos n = 1;; ++n) {
        auto end = text.find(kLineEnd, start);
        if (end == std::string_view::npos) {
            visit(n, text.substr(start));
            return;
        }
        if (!visit(n, text.substr(start, end + 2 - start))) return;
        start = end + 2;
    }
}

void InsertCard(std::string& text, std::string_view keyword, std::string_view value,
                ValueType valueType, std::string_view comment, Pos n) {
    std::string line = BuildCard(keyword, value, valueType, comment);
    line += kLineEnd;
    Pos s = LineStart(text, n);
    if (s != 0) {
        text.insert(static_cast<std::size_t>(s - 1), line);
        return;
    }
    // Appending behind a last line without a line end would merge the card into that line.
    if (!text.empty() && !text.ends_with(kLineEnd)) text += kLineEnd;
    text += line;
}

void RemoveLine(std::string& text, Pos n) {
    Pos s = LineStart(text, n);
    if (s == 0) return;
    Pos e = NextLineStart(text, s);
    if (e == 0 || e > Len(text)) e = Len(text) + 1;
    text.erase(static_cast<std::size_t>(s - 1), static_cast<std::size_t>(e - s));
}

void SetHeaderText(HeaderStore& store, const std::string& text) {
    store.ReplaceText(text);
    Pos n = CountRealLines(text);
    if (n != 0) store.SetNavigatorMaximum(n);
    store.NavigatorChanged();
}

void SelectCaretLine(HeaderStore& store) {
    Pos c = store.SelectionStart() + 1;
    std::string text = store.Text();
    Pos n = CountLines(text);
    Pos i = 1;
    for (Pos start = text.empty() ? 0 : 1; i <= n; ++i) {
        if (start == 0 || start > Len(text) || start > c) break;
        start = NextLineStart(text, start);
    }
    Pos line = i - 1;
    if (line >= 1 && line <= n) store.SetNavigatorValue(line);
}

void MemoryHeaderStore::ReplaceText(const std::string& text) {
    text_ = text;
    caret_ = 0;
}

void MemoryHeaderStore::SetNavigatorValue(Pos value) {
    value_ = std::clamp(value, minimum_, std::max(minimum_, maximum_));
    NavigatorChanged();
}

void MemoryHeaderStore::SetNavigatorMaximum(Pos maximum) {
    maximum_ = std::max(maximum, minimum_);
    if (value_ > maximum_) SetNavigatorValue(maximum_);
}

}  // namespace fits
