// The type library's fixed facts: identifier, name, help text, version, locale.
#pragma once

#include <windows.h>

// {6E2B9A31-5C47-4D8E-9F1A-2B7C3D4E5F60}: never changes between builds.
inline constexpr GUID kMonodrvLibId = {
    0x6E2B9A31, 0x5C47, 0x4D8E, {0x9F, 0x1A, 0x2B, 0x7C, 0x3D, 0x4E, 0x5F, 0x60}};
inline constexpr const wchar_t* kMonodrvLibName = L"MONODRVLib";
inline constexpr const wchar_t* kMonodrvLibHelp = L"Monodrv 1.0 Type Library";
inline constexpr WORD kMonodrvLibMajor = 1, kMonodrvLibMinor = 0;
inline constexpr LCID kMonodrvLibLocale = 0x0409;
