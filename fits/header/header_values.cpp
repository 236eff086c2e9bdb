#include "fits/header/header_values.h"

#include "fits/header/header_text.h"

namespace fits {

std::string GetHeaderValue(std::string_view text, std::string_view keyword) {
    std::string value;
    ForEachLine(text, [&](Pos, std::string_view line) {
        if (GetKeyword(line) != keyword) return true;
        value = GetValue(line);
        return false;
    });
    return value;
}

HeaderValues GetHeaderValues(std::string_view headerText, unsigned which) {
    return GetHeaderValues(HeaderModel::Parse(headerText), which);
}

HeaderValues GetHeaderValues(const HeaderModel& header, unsigned which) {
    HeaderValues values;
    struct Step {
        unsigned mask;
        const char* keyword;
        bool empty_is_one;
        std::optional<std::int32_t> HeaderValues::*field;
    };
    static constexpr Step kOrder[] = {
        {kNaxis1, "NAXIS1", false, &HeaderValues::naxis1},
        {kBitpix, "BITPIX", false, &HeaderValues::bitpix},
        {kNaxis2, "NAXIS2", true, &HeaderValues::naxis2},
        {kNaxis3, "NAXIS3", true, &HeaderValues::naxis3},
    };
    for (const Step& step : kOrder) {
        if (!(which & step.mask)) continue;
        if (step.empty_is_one && !header.HasValue(step.keyword)) {
            values.*step.field = 1;
            continue;
        }
        const auto whole = header.Whole(step.keyword);
        if (!whole) break;
        values.*step.field = whole;
    }
    return values;
}

}  // namespace fits
