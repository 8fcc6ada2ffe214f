#include "diag/LogSetup.h"

#include <string>

#include "res/ProductIdentity.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/FileLinks.h"
#include "framework/FolderSecurity.h"

namespace {

// The product's log folder, created with a protected descriptor when
// missing. Used only when it is a folder of its own (no link) owned by the
// launcher's user, Administrators or SYSTEM: under an elevated or system
// launcher, the temporary folder may be one where others create folders.
// Returns the folder's resolved path with its backslash, or empty.
std::wstring PrepareLogFolder(const wchar_t* folder, bool create = true) {
    const qx::Sid user = qx::CurrentUserSid();
    if (create && GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
        qx::UniqueLocal descriptor = qx::BuildLogFolderDescriptor(user);
        if (descriptor) qx::CreateFolderWith(folder, descriptor.get());
    }
    qx::UniqueHandle handle;
    std::wstring resolved;
    bool isFolder = false;
    if (qx::OpenChecked(folder, READ_CONTROL, handle, resolved, &isFolder) != qx::EntryCheck::kItself || !isFolder)
        return L"";
    const qx::Sid owner = qx::OwnerOf(handle.get());
    if (!qx::SameSid(owner, user) && !qx::IsAdministratorsOrSystem(owner)) return L"";
    return qx::JoinName(resolved, L"");
}

// The log file a caller named, as the logger will check each record's file:
// its full path with the folder as the system resolves it. Empty with the
// reason when it may not be used.
std::wstring RequestedLogPath(const wchar_t* requested, std::wstring& reason) {
    wchar_t full[MAX_PATH] = {};
    wchar_t* name = nullptr;
    const DWORD n = GetFullPathNameW(requested, MAX_PATH, full, &name);
    if (n == 0 || n >= MAX_PATH || !name || !*name) {
        reason = L"not a file's path";
        return L"";
    }
    const std::wstring file = name;
    *name = L'\0';
    const std::wstring folder = PrepareLogFolder(full, false);
    if (folder.empty()) {
        reason = L"its folder is missing, a link, or not owned by this user, Administrators or SYSTEM";
        return L"";
    }
    const std::wstring path = qx::JoinName(folder, file);
    if (path.size() > kMaxLogText) {
        reason = L"the path is longer than a log's path may be";
        return L"";
    }
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        qx::UniqueHandle handle;
        std::wstring resolved;
        bool isFolder = true;
        if (qx::OpenChecked(path, 0, handle, resolved, &isFolder) != qx::EntryCheck::kItself || isFolder) {
            reason = L"it is a link or a folder";
            return L"";
        }
    }
    return path;
}

}  // namespace

// <temp>\{product}\~qx<hex>.log, as InitializeLog describes.
void InitializeDefaultLog(wchar_t* logFile);

std::wstring InitializeLog(wchar_t* logFile, const wchar_t* requested) {
    std::wstring reason;
    if (requested && *requested) {
        const std::wstring path = RequestedLogPath(requested, reason);
        if (!path.empty() && qx::BoundedCopy(logFile, MAX_PATH, path.c_str())) {
            CLogger& logger = CLogger::Instance();
            logger.SetLogFile(logFile);
            logger.AddLevel(ReadLogLevel());
            return L"";
        }
        if (reason.empty()) reason = L"the path is longer than a log's path may be";
    }
    InitializeDefaultLog(logFile);
    return reason;
}

void InitializeDefaultLog(wchar_t* logFile) {
    CLogger& logger = CLogger::Instance();
    wchar_t folder[MAX_PATH] = {};
    DWORD n = GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH) {
        // No temporary folder: no log, rather than one at the drive's root.
        logger.AddLevel(ReadLogLevel());
        return;
    }
    size_t len = qx::BoundedLength(folder, MAX_PATH);
    if (len == 0 || folder[len - 1] != L'\\') qx::BoundedAppend(folder, MAX_PATH, L"\\");
    qx::BoundedAppend(folder, MAX_PATH, kLogFolderName);
    qx::BoundedAppend(folder, MAX_PATH, L"\\");

    // The path as the system resolves it: each record checks that the file
    // it opens lies exactly there.
    const std::wstring resolved = PrepareLogFolder(folder);
    if (resolved.empty() || resolved.size() >= MAX_PATH) {
        logger.AddLevel(ReadLogLevel());
        return;
    }

    // The platform picks a number no file in the folder has yet and creates
    // "~qx<hex>.tmp"; the log takes the same name with "log".
    wchar_t name[MAX_PATH] = {};
    if (GetTempFileNameW(resolved.c_str(), L"~qx", 0, name) != 0) {
        // Deleted only as the file just made: the folder may be one that the
        // launcher's user writes unelevated, and a link put in its place
        // meanwhile must lose nothing it points at.
        qx::RemoveEntryAt(name, false);
        size_t nameLen = qx::BoundedLength(name, MAX_PATH);
        if (nameLen > 3) {
            name[nameLen - 3] = L'\0';
            qx::BoundedAppend(name, MAX_PATH, L"log");
            qx::BoundedCopy(logFile, MAX_PATH, name);
        }
    }

    // The logger keeps a path of at most kMaxLogText characters and would
    // cut a longer one to the name of another file: the launcher's records
    // are then lost, as for a log that cannot be opened. The whole name
    // still goes to the install-actions module.
    if (qx::BoundedLength(logFile, MAX_PATH) <= kMaxLogText) logger.SetLogFile(logFile);
    logger.AddLevel(ReadLogLevel());
}
