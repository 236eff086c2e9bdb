// Build tool: writes the driver's type library (monodrv.tlb) for 32- or 64-bit Windows with
// the system's type-library writer. Usage: make-typelib OUTPUT.tlb win32|win64
#include <windows.h>
// windows.h first: the OLE headers need its types.
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "monodrv/registration/enumerations.h"
#include "type_library.h"

namespace {

bool Check(HRESULT hr, const char* what) {
    if (FAILED(hr))
        std::fprintf(stderr, "make-typelib: %s failed (0x%08lx)\n", what,
                     static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-typelib OUTPUT.tlb win32|win64\n");
        return 2;
    }
    const SYSKIND target = std::string(argv[2]) == "win32" ? SYS_WIN32 : SYS_WIN64;
    std::wstring output(argv[1], argv[1] + std::strlen(argv[1]));
    ICreateTypeLib2* library = nullptr;
    if (!Check(CreateTypeLib2(target, output.c_str(), &library), "CreateTypeLib2")) return 1;
    library->SetName(const_cast<LPOLESTR>(kMonodrvLibName));
    library->SetGuid(kMonodrvLibId);
    library->SetVersion(kMonodrvLibMajor, kMonodrvLibMinor);
    library->SetLcid(kMonodrvLibLocale);
    library->SetDocString(const_cast<LPOLESTR>(kMonodrvLibHelp));
    for (const monodrv::Enumeration& e : monodrv::Enumerations()) {
        ICreateTypeInfo* info = nullptr;
        if (!Check(library->CreateTypeInfo(const_cast<LPOLESTR>(e.name), TKIND_ENUM, &info),
                   "CreateTypeInfo"))
            return 1;
        for (UINT i = 0; i < e.constants.size(); ++i) {
            const monodrv::EnumConstant& c = e.constants[i];
            VARIANT value;
            VariantInit(&value);
            V_VT(&value) = VT_I4;
            V_I4(&value) = c.value;
            VARDESC desc{};
            desc.memid = static_cast<MEMBERID>(0x40000000 + i);
            desc.varkind = VAR_CONST;
            desc.lpvarValue = &value;
            desc.elemdescVar.tdesc.vt = VT_I4;
            if (!Check(info->AddVarDesc(i, &desc), "AddVarDesc") ||
                !Check(info->SetVarName(i, const_cast<LPOLESTR>(c.name)), "SetVarName") ||
                !Check(info->SetVarDocString(i, const_cast<LPOLESTR>(c.help)), "SetVarDocString"))
                return 1;
        }
        if (!Check(info->LayOut(), "LayOut")) return 1;
        info->Release();
    }
    if (!Check(library->SaveAllChanges(), "SaveAllChanges")) return 1;
    library->Release();
    return 0;
}
