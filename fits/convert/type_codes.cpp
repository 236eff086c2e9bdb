#include "fits/convert/type_codes.h"

namespace fits {
namespace {

struct TypeRow {
    const char* bitpix;
    const char* name;
};

// Codes 1 to 6; code 0 depends on the experiment's floating-point flag.
constexpr TypeRow kRows[] = {
    {"16", "short"}, {"32", "long"}, {"-32", "float"}, {"0", "unsupported data type"},
    {"8", "byte"},   {"32", "long"},
};
constexpr TypeRow kUnsupported = {"0", "unsupported data type"};
constexpr TypeRow kFloat = {"-32", "float"};
constexpr TypeRow kLong = {"32", "long"};

TypeRow Lookup(std::int32_t code, AutomationFactory& factory) {
    if (code < 0 || code > 6) return kUnsupported;
    if (code == 0) {
        auto experiment = factory.NewExperiment();
        bool floating = experiment && experiment->GetParam(exp_param::kFloatFlag).ToBool();
        return floating ? kFloat : kLong;
    }
    return kRows[code - 1];
}

}  // namespace

std::string TypeToBitpix(std::int32_t code, AutomationFactory& factory) {
    return Lookup(code, factory).bitpix;
}

std::string TypeToName(std::int32_t code, AutomationFactory& factory) {
    return Lookup(code, factory).name;
}

}  // namespace fits
