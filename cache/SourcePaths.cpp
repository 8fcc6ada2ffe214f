#include "cache/SourcePaths.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "diag/ErrorReporting.h"
#include "diag/Logger.h"
#include "framework/BoundedText.h"
#include "framework/ModuleFolder.h"
#include "framework/Ownership.h"
#include "res/ProductIdentity.h"
#include "res/SourceRecord.h"

namespace {

// The size check, the null check and the bounded copy shared by both path
// operations; name is the operation's name in its log lines.
DWORD DeliverPath(const wchar_t* name, const wchar_t* path, wchar_t* buffer, DWORD& capacity) {
    const DWORD length = static_cast<DWORD>(qx::BoundedLength(path, MAX_PATH));
    if (capacity < length) {
        capacity = length;
        LogTrace(L"Out of %s : MORE DATA", name);
        return ERROR_MORE_DATA;
    }
    if (!buffer) {
        LogTrace(L"%s : ERROR_INVALID_PARAMETER", name);
        return ERROR_INVALID_PARAMETER;
    }
    qx::BoundedCopy(buffer, capacity, path);
    LogTrace(L"Out of %s : %s", name, path);
    return ERROR_SUCCESS;
}

void FormatRecordKey(wchar_t (&key)[kRegistryKeyCapacity], const wchar_t* manufacturer, const wchar_t* productCode) {
    qx::BoundedFormat(key, kRegistryKeyCapacity, kSourcePathKeyFormat, manufacturer ? manufacturer : L"",
                      productCode ? productCode : L"");
}

}  // namespace

DWORD GetSourcePath(wchar_t* buffer, DWORD& capacity) {
    LogTrace(L"In GetSourcePath");
    wchar_t folder[MAX_PATH] = {};
    qx::GetLauncherFolder(folder, MAX_PATH);
    return DeliverPath(L"GetSourcePath", folder, buffer, capacity);
}

DWORD GetCachePath(wchar_t* buffer, DWORD& capacity, const wchar_t* firstLevel, const wchar_t* secondLevel) {
    LogTrace(L"In GetCachePath");
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) {
        if (firstLevel) PathAppendW(path, firstLevel);
        if (secondLevel) PathAppendW(path, secondLevel);
    } else {
        // The shell leaves its unusable answer in the buffer.
        path[0] = L'\0';
    }
    qx::BoundedAppend(path, MAX_PATH, L"\\");
    return DeliverPath(L"GetCachePath", path, buffer, capacity);
}

DWORD CacheSourcePath(const wchar_t* manufacturer, const wchar_t* productCode, const wchar_t* sourceFolder) {
    LogTrace(L"In CacheSourcePath");
    // One spare character: see the value's data below. A folder too long
    // for the record is not cut to name another.
    wchar_t source[MAX_PATH + 1] = {};
    if (!qx::BoundedCopy(source, MAX_PATH, sourceFolder)) {
        LogError(L"Source path not recorded: the folder does not fit the record");
        return ERROR_SUCCESS;
    }

    wchar_t keyPath[kRegistryKeyCapacity] = {};
    FormatRecordKey(keyPath, manufacturer, productCode);
    qx::UniqueKey key;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              key.put(), nullptr);
    if (rc != ERROR_SUCCESS) {
        LogSystemError(static_cast<DWORD>(rc));
        return ERROR_SUCCESS;
    }
    LogTrace(L"SourcePath: %s", source);

    // The record holds no terminator. The registry adds one on its own when
    // the character after the data is NUL, so that character must not be.
    const size_t length = qx::BoundedLength(source, MAX_PATH);
    source[length] = L'\\';
    rc = RegSetValueExW(key.get(), kSourcePathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(source),
                        static_cast<DWORD>(length * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) LogSystemError(static_cast<DWORD>(rc));
    return ERROR_SUCCESS;
}

std::wstring GetCachedSourcePath() {
    const SourceRecord record = ReadSourceRecord();
    if (record.openResult != ERROR_SUCCESS) LogSystemError(static_cast<DWORD>(record.openResult));
    return record.found ? record.folder : std::wstring();
}
