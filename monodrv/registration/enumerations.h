// The five published enumerations as data (from enumerations.inc), for the tool that writes
// the type library and for the tests that read it back.
#pragma once

#include <vector>

namespace monodrv {

struct EnumConstant {
    const wchar_t* name;
    long value;
    const wchar_t* help;
};

struct Enumeration {
    const wchar_t* name;
    std::vector<EnumConstant> constants;
};

inline std::vector<Enumeration> Enumerations() {
    std::vector<Enumeration> all;
#define MONODRV_ENUM(name) all.push_back({L## #name, {}});
#define MONODRV_CONST(name, value, help) \
    all.back().constants.push_back({L## #name, value, L"" help});
#include "monodrv/registration/enumerations.inc"
#undef MONODRV_ENUM
#undef MONODRV_CONST
    return all;
}

}  // namespace monodrv
