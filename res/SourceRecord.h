#pragma once
// Reading the source record: the folder the launcher was started from,
// written under the product's key so that a resumed launcher and the
// install-actions module find the package again. The launcher and the
// module read it the same way, here.
#include <windows.h>

#include <string>

#include "framework/Ownership.h"
#include "res/ProductIdentity.h"

struct SourceRecord {
    LSTATUS openResult = ERROR_SUCCESS;   // of opening the product's key
    bool found = false;                   // a value that names a folder was read
    DWORD type = REG_NONE;
    std::wstring folder;                  // at most MAX_PATH - 1 characters
};

// The record's data carries no terminator, so it is read into a
// zero-filled buffer; whatever its type or size, only whole characters
// count, up to the first NUL, and a text that leaves no room for a
// terminator is no folder of ours.
inline SourceRecord ReadSourceRecord() {
    SourceRecord record;
    qx::UniqueKey key;
    record.openResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceRecordKey, 0, KEY_READ, key.put());
    if (record.openResult != ERROR_SUCCESS) return record;
    wchar_t data[MAX_PATH] = {};
    DWORD bytes = sizeof data;
    if (RegQueryValueExW(key.get(), kSourcePathValue, nullptr, &record.type, reinterpret_cast<BYTE*>(data), &bytes) !=
        ERROR_SUCCESS)
        return record;
    const size_t whole = bytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < whole && data[length] != L'\0') ++length;
    if (length >= MAX_PATH) return record;
    record.folder.assign(data, length);
    record.found = true;
    return record;
}
