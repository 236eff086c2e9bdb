// The header text: the whole header as one text, one card per line, each line ended by
// CR LF, without an END card. It is the only store of the header; every change goes through
// the operations here and is stored with SetHeaderText.
//
// Lines count from 1. A text that ends in a line end has an empty last line after it, which
// CountLines counts and LineStart treats as absent.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "fits/header/card.h"

namespace fits {

Pos CountLines(std::string_view text);
Pos LineStart(std::string_view text, Pos n);
std::string GetLine(std::string_view text, Pos n);
void InsertCard(std::string& text, std::string_view keyword, std::string_view value,
                ValueType valueType, std::string_view comment, Pos n);
void RemoveLine(std::string& text, Pos n);

// Number of real lines: CountLines without the empty line after a final line end.
Pos CountRealLines(std::string_view text);

// Calls `visit(n, line)` for each line n from 1 to CountLines(text), each line with its line
// end as GetLine gives it (the empty last line included), in one pass over the text.
void ForEachLine(std::string_view text, const std::function<bool(Pos, std::string_view)>& visit);

// Where the header lives: the header box of the window, or memory for tests and the
// command-line converter. Holds the text, the caret and the line navigator.
class HeaderStore {
  public:
    virtual ~HeaderStore() = default;
    virtual std::string Text() const = 0;
    // Replaces the text; the caret moves to the start.
    virtual void ReplaceText(const std::string& text) = 0;
    // Selection start as a 0-based offset (the caret stands before that character).
    virtual Pos SelectionStart() const = 0;
    virtual Pos NavigatorValue() const = 0;
    virtual void SetNavigatorValue(Pos value) = 0;
    virtual void SetNavigatorMaximum(Pos maximum) = 0;
    // The navigator's change handler: shows the line at the navigator's value.
    virtual void NavigatorChanged() = 0;
};

// Stores the text, sets the navigator's bound to the number of real lines (left as it was
// for the empty text) and runs the navigator's change handler.
void SetHeaderText(HeaderStore& store, const std::string& text);
// Moves the navigator to the line in which the caret stands.
void SelectCaretLine(HeaderStore& store);

// A header store in memory. The navigator runs from 1 to its maximum, as the window's does.
class MemoryHeaderStore : public HeaderStore {
  public:
    std::string Text() const override { return text_; }
    void ReplaceText(const std::string& text) override;
    Pos SelectionStart() const override { return caret_; }
    Pos NavigatorValue() const override { return value_; }
    void SetNavigatorValue(Pos value) override;
    void SetNavigatorMaximum(Pos maximum) override;
    void NavigatorChanged() override { ++changes_; }

    void SetSelectionStart(Pos caret) { caret_ = caret; }
    Pos NavigatorMaximum() const { return maximum_; }
    int Changes() const { return changes_; }

  private:
    std::string text_;
    Pos caret_ = 0;
    Pos value_ = 1;
    Pos minimum_ = 1;
    Pos maximum_ = 1;
    int changes_ = 0;
};

}  // namespace fits
