#include "fits/input/header_reader.h"

#include <cstdio>
#include <memory>

namespace fits {
namespace {

constexpr std::size_t kBlock = 2880;
constexpr std::size_t kCard = 80;
// A header source is read up to this size: a large file that is no header (a data file named
// .fit without END, a binary file picked by mistake) must not fill the memory. 16 MiB holds
// more than 200,000 cards.
constexpr std::size_t kMaxHeaderBytes = std::size_t{16} << 20;

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Appends the cards of one piece of a FITS header: each right-trimmed with a line end,
// pieces that are empty or exactly "END" dropped.
void AppendCards(std::string_view piece, std::string& out) {
    for (std::size_t at = 0; at < piece.size(); at += kCard) {
        std::string_view card = TrimRight(piece.substr(at, kCard));
        if (card.empty() || card == "END") continue;
        out += card;
        out += kLineEnd;
    }
}

bool HoldsEndCard(std::string_view block) {
    for (std::size_t at = 0; at < block.size(); at += kCard)
        if (GetKeyword(block.substr(at, kCard)) == "END") return true;
    return false;
}

std::string ReadFitsHeader(std::FILE* file) {
    std::string result;
    std::string block(kBlock, ' ');
    for (std::size_t total = 0; total < kMaxHeaderBytes; total += kBlock) {
        std::size_t got = std::fread(block.data(), 1, kBlock, file);
        std::string_view piece(block.data(), got);
        AppendCards(piece, result);
        if (got < kBlock || HoldsEndCard(piece)) break;
    }
    return result;
}

std::string ReadText(std::FILE* file) {
    std::string content;
    char buffer[65536];
    for (std::size_t got; content.size() < kMaxHeaderBytes &&
                          (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        content.append(buffer, got);
    return std::string(Trim(content));
}

}  // namespace

bool IsFitsName(std::string_view path) {
    return ToLower(path).find(".fit") != std::string::npos;
}

std::string ReadFileHeader(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return {};
    return IsFitsName(path) ? ReadFitsHeader(file.get()) : ReadText(file.get());
}

void AppendFileHeader(HeaderStore& store, const std::string& path) {
    std::string text = store.Text();
    std::string added = ReadFileHeader(path);
    // A text-file header may end without a line end; the cards must not join its last line.
    if (!text.empty() && !added.empty() && !text.ends_with(kLineEnd)) text += kLineEnd;
    SetHeaderText(store, text + added);
}

std::string GetHeaderValue(std::string_view text, std::string_view keyword) {
    std::string value;
    ForEachLine(text, [&](Pos, std::string_view line) {
        if (GetKeyword(line) != keyword) return true;
        value = GetValue(line);
        return false;
    });
    return value;
}

}  // namespace fits
