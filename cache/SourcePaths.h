#pragma once
// Where the install source and the cache are, and the registry record of
// the source folder that lets a resumed launcher find the package again.
#include <windows.h>

#include <string>

// The running launcher's folder, with its trailing backslash. capacity is
// the buffer's size in characters; when it is smaller than the path's
// length it is set to that length and 234 (ERROR_MORE_DATA) is returned
// with the buffer untouched. A null buffer then gives 87. Otherwise 0, and
// the path is copied, cut to fit the capacity.
DWORD GetSourcePath(wchar_t* buffer, DWORD& capacity);

// The machine's common application-data folder joined with the two levels (each
// skipped when null), then one backslash. A failed folder lookup leaves
// just the backslash. Codes and capacity as for GetSourcePath.
DWORD GetCachePath(wchar_t* buffer, DWORD& capacity, const wchar_t* firstLevel, const wchar_t* secondLevel);

// Records sourceFolder, the folder the package came from, under the
// manufacturer's and product code's key. Failures are logged; the result
// is always 0.
DWORD CacheSourcePath(const wchar_t* manufacturer, const wchar_t* productCode, const wchar_t* sourceFolder);

// The source folder recorded for this product, or an empty string when
// there is no readable record. At most MAX_PATH - 1 characters.
std::wstring GetCachedSourcePath();
