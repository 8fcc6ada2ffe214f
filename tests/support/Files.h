#pragma once
// Files and folders as a test reads and prepares them, and the records the
// test doubles leave (one UTF-8 line a call, "key=value|key=value...").
#include <windows.h>

#include <string>
#include <vector>

#include "framework/Ownership.h"

namespace qxtest {

bool FileExists(const std::wstring& path);   // a file, not a folder
bool PathExists(const std::wstring& path);   // a file or a folder
std::string ReadBytes(const std::wstring& path);   // empty when it cannot be read
std::wstring ReadUtf8(const std::wstring& path);
// Writes a whole file, making the folders above it first.
bool PutFile(const std::wstring& path, const std::string& bytes);
// The names in a folder (files and folders, without "." and ".."), sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
// Copies from into folder (which ends in a backslash), under name or its own.
bool CopyInto(const std::wstring& from, const std::wstring& folder, const std::wstring& name = L"");
// Removes a folder and what it holds through the shell (a link inside may
// be followed: for folders a test made itself; see Links.h otherwise).
void RemoveTree(const std::wstring& folder);

// The file opened as a program that means to move or delete it would open
// it: with delete access, every sharing allowed. A check's read-only open
// then fails with 32 while the loader and the shell can still start it.
qx::UniqueHandle HoldForDeletion(const std::wstring& path);

// The non-empty lines of a record file; one field of a record line.
std::vector<std::wstring> RecordLines(const std::wstring& file);
std::wstring RecordField(const std::wstring& line, const std::wstring& key);

}  // namespace qxtest
