#pragma once
// The product's identity, fixed in the launcher.
inline constexpr wchar_t kProductGuid[] = L"{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}";
inline constexpr wchar_t kProductName[] = L"QX Prism P4000 Series";
inline constexpr wchar_t kManufacturer[] = L"Selkirk-Vane";
inline constexpr wchar_t kPackageFile[] = L"QXPRP4005.msi";
inline constexpr wchar_t kLauncherFile32[] = L"QXVSetup.exe";
inline constexpr wchar_t kLauncherFile64[] = L"QXVSetup64.exe";
inline constexpr wchar_t kPadFile[] = L"Setup.exe";
inline constexpr wchar_t kResourceModuleFile[] = L"QXVSetupRES64.dll";
inline constexpr wchar_t kErrorModuleFile[] = L"QXPRP4005P64.dll";

// Strings of the resource module.
constexpr unsigned kIdsPendingReboot = 15002;
constexpr unsigned kIdsErrorCatalog = 15016;
