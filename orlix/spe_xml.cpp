// The XML footer of SPE 3.0 files. Elements are matched by local name: the root carries a
// default namespace, and the namespace URI is ignored.
#include <pugixml.hpp>

#include <charconv>
#include <cstring>
#include <string_view>

#include "fits/automation/variant.h"
#include "orlix/spe_file.h"

namespace orlix {
namespace {

std::string_view LocalName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    auto colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node Child(const pugi::xml_node& parent, std::string_view local) {
    for (auto child : parent.children())
        if (child.type() == pugi::node_element && LocalName(child) == local) return child;
    return {};
}

// The first element anywhere below `root` with this local name whose parent has `parent`.
pugi::xml_node FindBelow(const pugi::xml_node& root, std::string_view parent,
                         std::string_view local) {
    return root.find_node([&](const pugi::xml_node& n) {
        return n.type() == pugi::node_element && LocalName(n) == local &&
               LocalName(n.parent()) == parent;
    });
}

// A non-negative whole-number attribute; none when absent or not a number.
std::optional<std::int64_t> Whole(const pugi::xml_node& node, const char* name) {
    const char* text = node.attribute(name).value();
    std::int64_t value = 0;
    auto end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || ptr != end || *text == '\0' || value < 0) return std::nullopt;
    return value;
}

std::optional<std::int16_t> PixelFormatDatatype(std::string_view format) {
    if (format == "MonochromeUnsigned16") return SPE_UINT16;
    if (format == "MonochromeUnsigned32") return SPE_UINT32;
    if (format == "MonochromeFloating32") return SPE_FLOAT32;
    return std::nullopt;
}

Status Disagree(const std::string& what) {
    return Status::Error("XML footer disagrees with the header: " + what);
}

Status ApplyRegions(const pugi::xml_node& frame_block, std::int64_t frame_size, SpeInfo& info) {
    std::vector<Region> regions;
    std::int64_t offset = 0, height = 0;
    const std::int64_t sample = DatatypeSize(info.datatype);
    for (auto block : frame_block.children()) {
        if (LocalName(block) != "DataBlock" ||
            std::string_view(block.attribute("type").value()) != "Region")
            continue;
        auto width = Whole(block, "width"), rows = Whole(block, "height");
        if (!width || !rows || *rows == 0)
            return Status::Error("XML footer: region without a size");
        if (*width != info.columns)
            return Disagree("region " + std::to_string(*width) + " wide in a frame " +
                            std::to_string(info.columns) + " wide");
        // Every value is the file's word: sums and products are checked, never trusted.
        std::int64_t size = 0, end = 0;
        if (__builtin_mul_overflow(*width * sample, *rows, &size) ||
            __builtin_add_overflow(offset, size, &end) || end > frame_size)
            return Disagree("regions larger than the frame");
        std::int64_t stride = Whole(block, "stride").value_or(size);
        if (stride < size) stride = size;
        regions.push_back(Region{offset, *width, *rows});
        if (__builtin_add_overflow(offset, stride, &offset) ||
            __builtin_add_overflow(height, *rows, &height))
            return Disagree("regions larger than the frame");
    }
    if (regions.empty()) return Status::Ok();
    if (height != info.rows)
        return Disagree("regions " + std::to_string(height) + " rows high, header " +
                        std::to_string(info.rows));
    info.regions = std::move(regions);
    return Status::Ok();
}

}  // namespace

Status ApplyXmlFooter(const std::string& xml, SpeInfo& info) {
    pugi::xml_document document;
    auto parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed)
        return Status::Error(std::string("XML footer is not XML: ") + parsed.description());
    auto root = document.document_element();
    if (LocalName(root) != "SpeFormat") return Status::Error("XML footer has no SpeFormat root");

    pugi::xml_node frame_block;
    for (auto block : Child(root, "DataFormat").children())
        if (LocalName(block) == "DataBlock" &&
            std::string_view(block.attribute("type").value()) == "Frame")
            frame_block = block;
    if (!frame_block) return Status::Error("XML footer has no frame data block");

    auto datatype = PixelFormatDatatype(frame_block.attribute("pixelFormat").value());
    if (!datatype) return Status::Error("XML footer: unknown pixel format");
    if (*datatype != info.datatype)
        return Disagree("pixel format " + DatatypeName(*datatype) + ", header datatype " +
                        DatatypeName(info.datatype));
    auto count = Whole(frame_block, "count");
    if (!count || *count != info.header_frames)
        return Disagree("frame count " + std::to_string(count.value_or(-1)) + ", header " +
                        std::to_string(info.header_frames));
    const std::int64_t frame_size = info.columns * info.rows * DatatypeSize(info.datatype);
    auto size = Whole(frame_block, "size");
    if (!size || *size != frame_size)
        return Disagree("frame size " + std::to_string(size.value_or(-1)) + " bytes, header " +
                        std::to_string(frame_size));
    auto stride = Whole(frame_block, "stride").value_or(frame_size);
    if (stride < frame_size) return Disagree("frame stride smaller than the frame");
    info.frame_stride = stride;
    if (Status s = ApplyRegions(frame_block, frame_size, info); !s) return s;

    if (auto exposure = FindBelow(root, "ShutterTiming", "ExposureTime")) {
        auto ms = fits::ParseNumber(exposure.text().get());
        if (ms && *ms >= 0) {
            info.exposure_seconds = *ms / 1000.0;
            info.exposure_is_float = false;
        }
    }
    return Status::Ok();
}

}  // namespace orlix
