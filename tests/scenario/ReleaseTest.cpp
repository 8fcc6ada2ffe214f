// One release: every binary of the product folder says which product,
// maker and version it is, and the version is the package's.
#include "tests/scenario/ScenarioTest.h"

#include <msi.h>
#include <msiquery.h>

#include "framework/Ownership.h"

namespace qxtest {
namespace {

std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return L"";
    return std::wstring(value, length && value[length - 1] == L'\0' ? length - 1 : length);
}

std::wstring PackageProductVersion(const std::wstring& package) {
    MSIHANDLE handle = 0;
    const INSTALLUILEVEL previous = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    std::wstring version;
    if (MsiOpenPackageExW(package.c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, &handle) == ERROR_SUCCESS) {
        wchar_t value[64] = {};
        DWORD size = 64;
        if (MsiGetPropertyW(handle, L"ProductVersion", value, &size) == ERROR_SUCCESS) version = value;
        MsiCloseHandle(handle);
    }
    MsiSetInternalUI(previous, nullptr);
    return version;
}

TEST(ReleaseTest, EveryBinaryCarriesTheProductsVersionAndNames) {
    const std::wstring packageVersion = PackageProductVersion(ProductDir() + kPackageFile);
    ASSERT_FALSE(packageVersion.empty());
    const wchar_t* binaries[] = {kLauncherFile64, kPadFile, L"QXVInstallActions64.dll", L"CustomActionData64.dll",
                                 kResourceModuleFile, kErrorModuleFile};
    for (const wchar_t* name : binaries) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring path = ProductDir() + name;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource";
        std::vector<BYTE> info(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
        // Windows Installer compares three fields; the binaries carry a fourth, 0.
        EXPECT_EQ(VersionString(info, L"FileVersion"), packageVersion + L".0");
        EXPECT_EQ(VersionString(info, L"ProductVersion"), packageVersion + L".0");
        EXPECT_EQ(VersionString(info, L"FileVersion"), kProductVersion);
        EXPECT_EQ(VersionString(info, L"CompanyName"), kManufacturer);
        EXPECT_EQ(VersionString(info, L"ProductName"), kProductName);
        EXPECT_EQ(VersionString(info, L"OriginalFilename"), name);
        EXPECT_EQ(VersionString(info, L"InternalName") + (std::wstring(name).ends_with(L".exe") ? L".exe" : L".dll"), name);
        EXPECT_NE(VersionString(info, L"FileDescription"), L"");
        EXPECT_NE(VersionString(info, L"LegalCopyright").find(kManufacturer), std::wstring::npos);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        wchar_t numeric[32] = {};
        swprintf(numeric, 32, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                 HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        EXPECT_EQ(std::wstring(numeric), kProductVersion) << "the numeric version, which Windows Installer compares";
    }
}

// A program's manifest (RT_MANIFEST 1) as the built file holds it, its
// comments taken out and its white space made single blanks.
std::string ManifestOf(const std::wstring& program) {
    const qx::UniqueModule module(LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRSRC found = module ? FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
    if (!found) return "";
    const char* xml = static_cast<const char*>(LockResource(LoadResource(module.get(), found)));
    std::string text(xml, SizeofResource(module.get(), found));
    for (size_t open; (open = text.find("<!--")) != std::string::npos;) {
        const size_t close = text.find("-->", open);
        text.erase(open, close == std::string::npos ? std::string::npos : close + 3 - open);
    }
    std::string flat;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (!blank) flat += c;
        else if (!flat.empty() && flat.back() != ' ') flat += ' ';
    }
    return flat;
}

TEST(ReleaseTest, TheProgramsManifestsAreThoseOfACurrentWindowsProgram) {
    // Without the supportedOS entries Windows runs a program in an older
    // compatibility context; without DPI awareness it stretches its windows'
    // pictures on a monitor above 100 %.
    const char* wanted[] = {
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"> <application>",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",   // Windows 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",   // Windows 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",   // Windows 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",   // Windows 10 and 11
        "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"> <windowsSettings>",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
    };
    const struct {
        std::wstring program;
        bool commonControls6;   // the animation control of the popup
    } programs[] = {{ProductDir() + kLauncherFile64, true}, {ProductDir() + kPadFile, false},
                    {BuildDir() + L"tests\\noclip\\" + kLauncherFile64, true}};
    for (const auto& p : programs) {
        SCOPED_TRACE(Narrow(p.program));
        const std::string manifest = ManifestOf(p.program);
        ASSERT_FALSE(manifest.empty()) << "no manifest resource 1";
        for (const char* part : wanted) EXPECT_NE(manifest.find(part), std::string::npos) << part << "\n" << manifest;
        EXPECT_EQ(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"") != std::string::npos,
                  p.commonControls6);
    }
}

}  // namespace
}  // namespace qxtest
