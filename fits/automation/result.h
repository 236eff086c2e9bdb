// Results of operations that can fail: a value or a message a user can read.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace fits {

// The text with the bytes `escape` picks written as \xNN (hex digits in upper case).
template <class Escape>
std::string EscapedText(const std::string& text, Escape escape) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (escape(c)) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// A file name as a message shows it: control characters and DEL escaped as \xNN, so that a
// message is one line and shows the name as typed. Other bytes (UTF-8 too) pass unchanged.
inline std::string ShownName(const std::string& path) {
    return EscapedText(path, [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// A file name as a FITS card can hold it (printable ASCII only): every other byte (UTF-8,
// Latin-1, control characters) escaped as \xNN, so that the name can still be told.
inline std::string AsciiName(const std::string& path) {
    return EscapedText(path, [](unsigned char c) { return c < 0x20 || c > 0x7E; });
}

// Adds `item` to a list a message shows, "a, b, c".
inline void AppendListed(std::string& list, const std::string& item) {
    list += (list.empty() ? "" : ", ") + item;
}

// Success, or a failure with a readable message (which names the file where one is involved).
class Status {
  public:
    Status() = default;
    static Status Ok() { return Status(); }
    static Status Error(std::string message) { return Status(std::move(message), false); }

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const std::string& message() const { return message_; }

  private:
    Status(std::string message, bool ok) : message_(std::move(message)), ok_(ok) {}
    std::string message_;
    bool ok_ = true;
};

// A value, or the message of the failure that prevented it.
template <class T>
class Result {
  public:
    Result(T value) : value_(std::move(value)) {}             // NOLINT: implicit by design
    Result(Status failure) : failure_(std::move(failure)) {}  // NOLINT

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // The value; throws std::bad_optional_access on a failed result. The operators below
    // do not check: call them only after ok().
    const T& value() const { return value_.value(); }
    T& value() { return value_.value(); }
    const T& operator*() const { return *value_; }
    T& operator*() { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    const std::string& message() const { return failure_.message(); }
    Status status() const { return ok() ? Status::Ok() : failure_; }

  private:
    std::optional<T> value_;
    Status failure_;
};

}  // namespace fits
