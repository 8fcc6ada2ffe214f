#include "ui/PackageSearch.h"

#include <setupapi.h>
#include <shlwapi.h>

#include <optional>
#include <string>

#include "cache/SourcePaths.h"
#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "modules/CompanionModules.h"
#include "res/ProductIdentity.h"
#include "ui/DiscPrompt.h"
#include "ui/FirstTickPreparation.h"

namespace {

constexpr DWORD kPackagePathCapacity = 2 * MAX_PATH;
constexpr DWORD kDiscPromptStyle = IDF_NOSKIP | IDF_NODETAILS | IDF_CHECKFIRST;   // 0x106

// The folder part of a package's path, made whole, with its backslash.
std::wstring FolderOf(const wchar_t* packagePath) {
    wchar_t full[kPackagePathCapacity] = {};
    wchar_t* filePart = nullptr;
    const DWORD length = GetFullPathNameW(packagePath, kPackagePathCapacity, full, &filePart);
    if (length == 0 || length >= kPackagePathCapacity || !filePart) return std::wstring();
    *filePart = L'\0';
    return full;
}

// Reads the package at path into found, checked and held, unless the check
// refuses it (reported) or there is none. The result of the read: 0, 2 when
// no file is there, the installer's code, or the refusal.
DWORD ReadPackageAt(const wchar_t* path, FoundPackage& found) {
    // Held, shared for reading only, while it is read; a package that is
    // not the product's own is not read at all.
    PreparedPackage package = TakePreparedPackage(path);
    if (package.file.Absent()) {
        // The records of a read that found no file.
        LogProductInfoRead(ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }
    if (!package.file.Passed()) {
        ReportRefusal(path, package.file.Refusal());
        found.outcome = FoundPackage::Outcome::kRefused;
        return static_cast<DWORD>(package.file.Refusal());
    }
    DWORD result = package.result;
    if (!package.read) {
        result = ReadProductInfo(package.file.UsablePath(), found.productName, found.productCode, found.manufacturer);
    } else {
        // Read ahead from this very file: the same fields and the same
        // records as a read made now.
        qx::BoundedCopy(found.productName, kProductNameCapacity, package.productName);
        qx::BoundedCopy(found.productCode, kProductCodeCapacity, package.productCode);
        qx::BoundedCopy(found.manufacturer, kManufacturerCapacity, package.manufacturer);
        LogProductInfoRead(result);
    }
    if (result == ERROR_SUCCESS) {
        found.folder = FolderOf(package.file.UsablePath());
        found.file = std::move(package.file);
        found.outcome = FoundPackage::Outcome::kFound;
    }
    return result;
}

// folder + the package's name into path; false when it does not fit.
bool PackagePathIn(const wchar_t* folder, wchar_t (&path)[kPackagePathCapacity]) {
    return qx::BoundedCopy(path, kPackagePathCapacity, folder) && PathAppendW(path, kPackageFile);
}

}  // namespace

FoundPackage FindPackage(HWND owner, bool noPrompts, bool resumed) {
    FoundPackage found;
    wchar_t packagePath[kPackagePathCapacity] = {};
    const std::wstring besideLauncher = LauncherFilePath(kPackageFile);
    qx::BoundedCopy(packagePath, kPackagePathCapacity, besideLauncher.c_str());

    // Read once, when first needed: the resume's look and the disc prompt
    // both use it.
    std::optional<std::wstring> record;
    const auto recorded = [&record]() -> const std::wstring& {
        if (!record) record = GetCachedSourcePath();
        return *record;
    };

    LogTrace(L"Getting Product Info");
    DWORD result = ReadPackageAt(packagePath, found);
    if (result == ERROR_FILE_NOT_FOUND && (noPrompts || resumed)) {
        // Nobody to answer a prompt, or a resume: the recorded source
        // folder is tried without a window first.
        LogTrace(noPrompts ? L"No disc prompt in a quiet run; looking in the recorded source folder"
                           : L"After the restart: looking in the recorded source folder");
        if (!recorded().empty() && PackagePathIn(recorded().c_str(), packagePath))
            result = ReadPackageAt(packagePath, found);
        // A deployment tool deletes the folder it ran the setup from: with
        // the product installed, nothing is left to install, and no disc
        // is needed for it.
        if (result == ERROR_FILE_NOT_FOUND && resumed &&
            ReadInstalledProductInfo(found.productName, found.productCode, found.manufacturer)) {
            LogTrace(L"After the restart: the source is gone and the product is installed; no disc is asked for");
            found.outcome = FoundPackage::Outcome::kNothingToInstall;
            return found;
        }
    }
    if (result == ERROR_FILE_NOT_FOUND && !noPrompts) {
        LogTrace(L"PROMPT for user to insert the Disk (In SetupDlg - On Timer - First Time) . Looking For\" "
                 L"QXPRP4005.msi \"");
        DWORD required = kPackagePathCapacity;
        const UINT answer = PromptForDisc(owner, nullptr, kProductName, recorded().c_str(), kPackageFile, nullptr,
                                          kDiscPromptStyle, packagePath, kPackagePathCapacity, &required);
        if (answer == DPROMPT_CANCEL) {
            LogTrace(L"Disc prompt cancelled");
            found.outcome = FoundPackage::Outcome::kCancelled;
            return found;
        }
        packagePath[kPackagePathCapacity - 1] = L'\0';
        // The prompt's answer is not looked at: reading the package is the test.
        PathAppendW(packagePath, kPackageFile);
        result = ReadPackageAt(packagePath, found);
    }
    if (found.outcome != FoundPackage::Outcome::kFound && found.outcome != FoundPackage::Outcome::kRefused) {
        found.outcome = FoundPackage::Outcome::kFailed;
        found.failure = result;
    }
    return found;
}
