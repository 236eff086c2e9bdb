#include "fits/convert/type_codes.h"

#include "fits/automation/data_types.h"
#include "fits/header/header_text.h"

namespace fits {
namespace {

struct TypeText {
    std::string bitpix;
    std::string name;
};

TypeText Lookup(std::int32_t code, AutomationFactory& factory) {
    if (code == 0) {
        auto experiment = factory.NewExperiment();
        bool floating = experiment && experiment->GetParam(exp_param::kFloatFlag).ToBool();
        code = floating ? type_code::kFloat32 : type_code::kInt32;
    }
    const DataTypeRow* row = FindDataType(code);
    if (!row) row = FindDataType(type_code::kUnsupported);
    return {std::to_string(row->bitpix), row->name};
}

}  // namespace

std::string TypeToBitpix(std::int32_t code, AutomationFactory& factory) {
    return Lookup(code, factory).bitpix;
}

std::string TypeToName(std::int32_t code, AutomationFactory& factory) {
    return Lookup(code, factory).name;
}

bool HoldsUnsigned16(DataDocument& document) {
    return document.GetParam(doc_param::kDataType).ToInt32() == type_code::kUInt16;
}

namespace {
const DataTypeRow* RowOf(DataDocument& document) {
    auto code = document.GetParam(doc_param::kDataType).ToInt32();
    return code ? FindDataType(*code) : nullptr;
}
}  // namespace

std::int32_t UnsignedOffsetBitpix(DataDocument& document) {
    const DataTypeRow* row = RowOf(document);
    return row ? row->offset_bitpix : 0;
}

bool NeedsUnsignedOffset(DataDocument& document) {
    const DataTypeRow* row = RowOf(document);
    return row && row->offset_bitpix != 0 && row->bitpix == 0;
}

std::vector<std::string> UnsignedOffsetCards(std::int32_t bitpix) {
    const std::string zero = std::to_string(UnsignedZero(bitpix));
    return {BuildCard("bzero", zero, ValueType::kInteger, "stored value + " + zero + " = count"),
            BuildCard("bscale", "1", ValueType::kInteger, "")};
}

}  // namespace fits
