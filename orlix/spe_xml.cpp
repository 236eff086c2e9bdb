// The XML footer of SPE 3.0 files. Elements are matched by local name: the root carries a
// default namespace, and the namespace URI is ignored.
#include <pugixml.hpp>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "fits/automation/variant.h"
#include "orlix/spe_file.h"
#include "orlix/spe_metadata.h"
#include "orlix/xml_names.h"

namespace orlix {
namespace {

using xml::Child;
using xml::FindBelow;
using xml::LocalName;

// A non-negative whole-number attribute; none when absent or not a number.
std::optional<std::int64_t> Whole(const pugi::xml_node& node, const char* name) {
    return fits::ParseCount(node.attribute(name).value());
}

// An attribute as the file writes it, for a message: quoted, at most 32 characters, bytes
// outside printable ASCII as '?'; "missing" when absent.
std::string AttributeText(const pugi::xml_node& node, const char* name) {
    const pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) return "missing";
    std::string text = attribute.value();
    if (text.size() > 32) text = text.substr(0, 32) + "...";
    for (char& c : text)
        if (c < 0x20 || c > 0x7e) c = '?';
    return '"' + text + '"';
}

std::optional<std::int16_t> PixelFormatDatatype(std::string_view format) {
    if (format == "MonochromeUnsigned16") return kSpeUInt16;
    if (format == "MonochromeUnsigned32") return kSpeUInt32;
    if (format == "MonochromeFloating32") return kSpeFloat32;
    return std::nullopt;
}

Status Disagree(const std::string& what) {
    return Status::Error("XML footer disagrees with the header: " + what);
}

// Regions stored one after another inside a frame of `frame_size` bytes. Their heights add
// up to the header's rows; they may differ in width from each other (then they are read one
// by one), but regions of one width must be as wide as the header's frame.
Status ApplyRegions(const pugi::xml_node& frame_block, std::int64_t frame_size, SpeInfo& info) {
    std::vector<Region> regions;
    std::int64_t offset = 0, height = 0;
    const std::int64_t sample = DatatypeSize(info.datatype);
    for (auto block : frame_block.children()) {
        if (LocalName(block) != "DataBlock" ||
            std::string_view(block.attribute("type").value()) != "Region")
            continue;
        auto width = Whole(block, "width"), rows = Whole(block, "height");
        if (!width || !rows || *rows == 0 || *width == 0 || *width > (1 << 24) || *rows > (1 << 24))
            return Status::Error("XML footer: region without a size");
        // Width and height are capped above: their product with the sample size fits.
        const std::int64_t size = *width * *rows * sample;
        std::int64_t stride = Whole(block, "stride").value_or(size);
        if (stride < size) stride = size;
        // Offsets are sums of the file's strides: checked, never trusted.
        std::int64_t end = 0;
        if (__builtin_add_overflow(offset, size, &end) || end > frame_size)
            return Disagree("regions larger than the frame");
        regions.push_back(Region{offset, *width, *rows});
        if (__builtin_add_overflow(offset, stride, &offset) ||
            __builtin_add_overflow(height, *rows, &height))
            return Disagree("regions larger than the frame");
    }
    if (regions.empty()) return Status::Ok();
    // Regions of one width form the header's frame, so that width must be the header's.
    bool one_width = true;
    for (const Region& region : regions)
        one_width = one_width && region.width == regions[0].width;
    if (one_width && regions[0].width != info.columns)
        return Disagree("region 1 " + std::to_string(regions[0].width) + " wide in a frame " +
                        std::to_string(info.columns) + " wide");
    if (height != info.rows)
        return Disagree("regions " + std::to_string(height) + " rows high, header " +
                        std::to_string(info.rows));
    info.regions = std::move(regions);
    return Status::Ok();
}

// Checks the footer's frame data block against the header and takes its regions and frame
// stride into `info`.
Status ApplyFrameBlock(const pugi::xml_node& root, SpeInfo& info) {
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
        return Disagree("frame count " + AttributeText(frame_block, "count") + ", header " +
                        std::to_string(info.header_frames));
    const std::int64_t frame_size = info.columns * info.rows * DatatypeSize(info.datatype);
    auto size = Whole(frame_block, "size");
    if (!size || *size > (std::int64_t{1} << 40))
        return Disagree("frame size " + AttributeText(frame_block, "size") + " bytes, header " +
                        std::to_string(frame_size));
    if (Status s = ApplyRegions(frame_block, *size, info); !s) return s;
    // Regions of one width fill the header's frame exactly; regions of different widths
    // fill the footer's frame size.
    if (info.RegionsDiffer() ? info.FrameDataBytes() > *size : *size != frame_size)
        return Disagree("frame size " + std::to_string(*size) + " bytes, header " +
                        std::to_string(frame_size));
    auto stride = Whole(frame_block, "stride").value_or(*size);
    if (stride < *size) return Disagree("frame stride smaller than the frame");
    info.frame_stride = stride;
    return Status::Ok();
}

// The exposure time in milliseconds, when the footer gives one; a value that is no number
// of 0 or more is noted and the exposure left at 0. A setting the file marks not relevant
// (relevance="False": the camera did not use it) is no exposure time: the frames' time
// stamps may give the one in effect (ReadFrameTimes), else none is answered.
void ReadExposure(const pugi::xml_node& root, SpeInfo& info) {
    auto exposure = FindBelow(root, "ShutterTiming", "ExposureTime");
    if (!exposure) return;
    const std::string text = exposure.text().get();
    const std::string_view relevance = exposure.attribute("relevance").value();
    if (relevance == "False" || relevance == "false") {
        info.exposure_known = false;
        info.exposure_is_float = false;
        info.exposure_problem = "the exposure setting " + text +
                                " ms is marked not relevant and no frame time stamps give the "
                                "exposure in effect; EXPTIME is left out";
        return;
    }
    auto ms = fits::ParseNumber(text);
    if (ms && std::isfinite(*ms) && *ms >= 0) {
        info.exposure_seconds = *ms / 1000.0;
        info.exposure_is_float = false;
    } else {
        info.exposure_problem = "ExposureTime \"" + text +
                                "\" is not a number of milliseconds of 0 or more; the "
                                "exposure is taken as 0";
    }
}

// The footer's facts and the layout of the per-frame metadata, which must fit the room the
// frame stride leaves after each frame (else it is noted and not read).
void ReadFooterFacts(const pugi::xml_node& root, SpeInfo& info) {
    info.metadata = ReadFooterMetadata(root, info.regions);
    info.meta_layout = ReadMetaLayout(root, info.metadata.notes);
    const std::int64_t room = info.frame_stride - info.FrameDataBytes();
    if (info.meta_layout && info.meta_layout->bytes > room) {
        info.metadata.notes.push_back(
            "the per-frame metadata block (" + std::to_string(info.meta_layout->bytes) +
            " bytes) does not fit the " + std::to_string(room) +
            " bytes the frame stride leaves after each frame; no per-frame facts are read");
        info.meta_layout.reset();
    }
}

}  // namespace

Status ApplyXmlFooter(const std::string& xml, SpeInfo& info) {
    pugi::xml_document document;
    auto parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed)
        return Status::Error(std::string("XML footer is not XML: ") + parsed.description());
    auto root = document.document_element();
    if (LocalName(root) != "SpeFormat") return Status::Error("XML footer has no SpeFormat root");
    if (Status s = ApplyFrameBlock(root, info); !s) return s;
    ReadExposure(root, info);
    ReadFooterFacts(root, info);
    return Status::Ok();
}

}  // namespace orlix
