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

}  // namespace
}  // namespace qxtest
