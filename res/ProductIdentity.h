#pragma once
// The product's identity, fixed at build time: its names, its GUID and
// every name derived from them (named objects, folders, registry keys and
// the source record's format), and the ids of the launcher's resources.
// The launcher, its log and the companion modules all read them here.
#include <windows.h>

#include "res/resource.h"

#define QX_PRODUCT_GUID L"{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}"
#define QX_MANUFACTURER L"Selkirk-Vane"
#define QX_PRODUCT_NAME L"QX Prism P4000 Series"

inline constexpr wchar_t kProductGuid[] = QX_PRODUCT_GUID;
inline constexpr wchar_t kProductName[] = QX_PRODUCT_NAME;
// The release every binary and the package carry, set by the build
// (cmake/Version.cmake): "major.minor.patch.0".
#define QX_WIDE_TEXT_(x) L## #x
#define QX_WIDE_TEXT(x) QX_WIDE_TEXT_(x)
inline constexpr wchar_t kProductVersion[] = QX_WIDE_TEXT(QX_VERSION_NUMBER);
inline constexpr wchar_t kManufacturer[] = QX_MANUFACTURER;

// Files of the product folder: the package, the launcher under both its
// names, the Pad,
inline constexpr wchar_t kPackageFile[] = L"QXPRP4005.msi";
inline constexpr wchar_t kLauncherFile32[] = L"QXVSetup.exe";
inline constexpr wchar_t kLauncherFile64[] = L"QXVSetup64.exe";
inline constexpr wchar_t kPadFile[] = L"Setup.exe";
// and the modules the launcher loads by their full paths.
inline constexpr wchar_t kResourceModuleFile[] = L"QXVSetupRES64.dll";
inline constexpr wchar_t kErrorModuleFile[] = L"QXPRP4005P64.dll";
inline constexpr wchar_t kInstallActionsFile[] = L"QXVInstallActions64.dll";
inline constexpr wchar_t kCustomActionDataFile[] = L"CustomActionData64.dll";

// Named objects. The UI event and the worker mutex carry the GUID; the
// installation mutex and the log mutex are shared with earlier versions.
inline constexpr wchar_t kUiEventName[] = L"Global\\UI-" QX_PRODUCT_GUID;
inline constexpr wchar_t kWorkerMutexName[] = L"Global\\MSITHREAD-" QX_PRODUCT_GUID;
inline constexpr wchar_t kInstallMutexName[] = L"__QXVSetupInProgress";
// The same announcement across sessions: a person's launcher and the
// device co-installer's in session 0 share one cache and one resume.
inline constexpr wchar_t kMachineInstallMutexName[] = L"Global\\QXVSetupInProgress-" QX_PRODUCT_GUID;
inline constexpr wchar_t kLogMutexName[] = L"Global\\CLogger--LoggingUtility";

// The log folder under the temporary folder is named after the GUID.
inline constexpr wchar_t kLogFolderName[] = QX_PRODUCT_GUID;

// Registry: the source record (under HKLM, formatted with the manufacturer
// and the product code; value "SourcePath", REG_SZ without a terminator),
// the pending-reboot marker, the log level every writer reads, and the
// names of the resume entries.
inline constexpr wchar_t kSourcePathKeyFormat[] = L"SOFTWARE\\%s\\Installed Products\\%s";
inline constexpr wchar_t kSourcePathValue[] = L"SourcePath";
constexpr size_t kRegistryKeyCapacity = 256;
inline constexpr wchar_t kSourceRecordKey[] =
    L"SOFTWARE\\" QX_MANUFACTURER L"\\Installed Products\\" QX_PRODUCT_GUID;
inline constexpr wchar_t kPendingRebootKey[] = L"SOFTWARE\\" QX_MANUFACTURER L"\\Installed Products\\PendingReboot";
inline constexpr wchar_t kLogLevelKey[] = L"SOFTWARE\\Oblent\\Installer";
inline constexpr wchar_t kLogLevelValue[] = L"LogLevel";
inline constexpr wchar_t kRunOnceValue[] = L"QX Prism P4000 Install";
inline constexpr wchar_t kRunValue[] = QX_PRODUCT_NAME L" Install";

// The launcher's own resources (res/resource.h holds the ids the resource
// compiler reads).
inline constexpr UINT kSetupDialogTemplate = IDD_SETUP_DIALOG;
inline constexpr UINT kAppIcon = IDI_SETUP;
inline constexpr UINT kHourglassClip = IDR_HOURGLASS_AVI;
inline constexpr int kHourglassControl = IDC_HOURGLASS;

// Strings of the resource module "QXVSetupRES64.dll", the home of every
// text a person reads, in each of the product's languages
// (companions/resources/QXVSetupRES64.rc). Texts with parts are message
// definitions with inserts (%1, %2, ...), so a translation may order them.
constexpr unsigned kIdsPendingReboot = 15002;       // formatted without inserts, lines wrapped at 60
constexpr unsigned kIdsErrorCatalog = 15016;        // the report for 0x800F1000, shown as it stands
constexpr unsigned kIdsPadCaption = 15017;          // the Pad's message box
constexpr unsigned kIdsPadNotStarted = 15018;       // %1 the launcher's path, %2 why
constexpr unsigned kIdsPadNotSigned = 15019;        // the same for a launcher the check refused
constexpr unsigned kIdsErrorNumber = 15020;         // %1 a code, where the system has no text for it
constexpr unsigned kIdsErrorReportCaption = 15021;  // the error-reporting module's message box
constexpr unsigned kIdsInstallationFailed = 15022;  // its text when the report brings none
constexpr unsigned kIdsFileRefused = 15023;         // %1 the file, %2 the reason, %3 the code in hex
constexpr unsigned kIdsReasonUnsigned = 15024;      // the reasons, where the system has no text
constexpr unsigned kIdsReasonChanged = 15025;
constexpr unsigned kIdsReasonNotOurs = 15026;
constexpr unsigned kIdsReasonUnknown = 15027;
constexpr unsigned kIdsAlreadyRunning = 15028;      // where the system has no text for 1618
constexpr unsigned kIdsHelp = 15030;                // the launcher's help: its switches and exit codes
constexpr unsigned kIdsRestartQuestion = 15031;     // %1 the product: restart now? (Yes, No)
constexpr unsigned kIdsFileOtherRelease = 15032;    // %1 this release, %2 the file, %3 its version, %4 the code in hex
constexpr unsigned kIdsFileNotChecked = 15033;      // %1 the file, %2 the system's reason, %3 the code in hex
constexpr unsigned kIdsNotForThisProcessor = 15034; // the driver is x64 and the computer ARM64
