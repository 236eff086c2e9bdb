#include "fits/input/fits_display.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "fits/convert/fits_writer.h"
#include "fits/header/card.h"
#include "fits/input/header_reader.h"

namespace fits {
namespace {

constexpr std::int64_t kBlock = 2880;

template <class T>
T LoadBig(const std::uint8_t* p) {
    std::uint8_t bytes[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = p[sizeof(T) - 1 - i];
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

template <class T>
void Decode(std::span<const std::uint8_t> buffer, Frame& frame) {
    auto out = frame.Elements<T>();
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = LoadBig<T>(buffer.data() + i * sizeof(T));
}

// Offset of the first data byte: the end of the header block that holds END. Blank cards
// can make the header longer than its cards alone, so the file is measured, not the text.
std::int64_t DataOffset(std::FILE* file) {
    std::vector<char> block(kBlock);
    for (std::int64_t offset = 0;; offset += kBlock) {
        if (std::fread(block.data(), 1, kBlock, file) != kBlock) return -1;
        for (std::int64_t at = 0; at < kBlock; at += 80)
            if (GetKeyword(std::string_view(block.data() + at, 80)) == "END")
                return offset + kBlock;
    }
}

}  // namespace

std::int32_t BitpixToType(std::int32_t bitpix) {
    switch (bitpix) {
        case 8:
            return 5;
        case 16:
            return 1;
        case 32:
            return 2;
        case -32:
            return 3;
        default:
            return 0;
    }
}

Frame BytesToFrame(DataDocument& document, std::span<const std::uint8_t> buffer,
                   std::int32_t bitpix) {
    auto columns = document.GetParam(doc_param::kColumns).ToInt32().value_or(0);
    auto rows = document.GetParam(doc_param::kRows).ToInt32().value_or(0);
    Frame frame;
    if (columns <= 0 || rows <= 0) return frame;
    const std::int64_t count = static_cast<std::int64_t>(columns) * rows;
    switch (bitpix) {
        case 8:
            frame.Reset(ElementType::UInt8, columns, rows);
            break;
        case 16:
            frame.Reset(ElementType::Int16, columns, rows);
            break;
        case 32:
            frame.Reset(ElementType::Int32, columns, rows);
            break;
        case -32:
            frame.Reset(ElementType::Float32, columns, rows);
            break;
        default:
            return frame;
    }
    if (static_cast<std::int64_t>(buffer.size()) < count * ElementSize(frame.Type()))
        return Frame();
    switch (frame.Type()) {
        case ElementType::UInt8:
            Decode<std::uint8_t>(buffer, frame);
            break;
        case ElementType::Int16:
            Decode<std::int16_t>(buffer, frame);
            break;
        case ElementType::Int32:
            Decode<std::int32_t>(buffer, frame);
            break;
        case ElementType::Float32:
            Decode<float>(buffer, frame);
            break;
    }
    return frame;
}

Status DisplayFitsFile(AutomationFactory& factory, const std::string& path) {
    const std::string text = ReadFileHeader(path);
    HeaderValues v = GetHeaderValues(text, kNaxis1 | kNaxis2 | kNaxis3 | kBitpix);
    if (!v.naxis1 || !v.naxis2 || !v.naxis3 || !v.bitpix || *v.naxis1 <= 0 || *v.naxis2 <= 0 ||
        *v.naxis3 <= 0)
        return Status::Ok();
    const std::int32_t code = BitpixToType(*v.bitpix);
    if (code == 0)
        return Status::Error(path + ": BITPIX " + std::to_string(*v.bitpix) +
                             " cannot be shown (8, 16, 32 and -32 can)");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) return Status::Error(path + ": cannot open");
    const std::int64_t offset = DataOffset(file.get());
    if (offset < 0) return Status::Error(path + ": no END card in the header");

    auto document = factory.NewDataDocument();
    if (Status s =
            document->Open("", *v.naxis1, *v.naxis2, *v.naxis3, code, ChangeExtension(path, "spe"));
        !s)
        return s;
    const std::int64_t frame_bytes =
        static_cast<std::int64_t>(*v.naxis1) * *v.naxis2 * (std::abs(*v.bitpix) / 8);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(frame_bytes));
    for (std::int64_t f = 1; f <= *v.naxis3; ++f) {
        if (std::fread(buffer.data(), 1, buffer.size(), file.get()) != buffer.size())
            return Status::Error(path + ": the file ends before frame " + std::to_string(f) +
                                 " of " + std::to_string(*v.naxis3));
        Frame frame = BytesToFrame(*document, buffer, *v.bitpix);
        if (Status s = document->PutFrame(f, frame); !s) return s;
        if (Status s = document->Refresh(); !s) return s;
    }
    return Status::Ok();
}

}  // namespace fits
