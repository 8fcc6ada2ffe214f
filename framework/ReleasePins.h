#pragma once
// The files of its release that a program uses, pinned by their SHA-256 in
// the program's own signed image (an RCDATA resource the build writes, see
// tools/write_pins.py): a file of another release, even one signed by the
// same publisher, is not the file this release was tested with. Windows
// and UAC check the program's own signature; that signature vouches for
// the pins, so a pinned file needs no signature check of its own and no
// crypto library but the hash's.
#include <windows.h>

#include <array>
#include <optional>
#include <string>

namespace qx {

using Sha256 = std::array<BYTE, 32>;

// Resource type and name of the pins: lines "<file name> <64 hex digits>".
inline constexpr wchar_t kPinsResourceName[] = L"QXPINS";

// The pin the module holding this code (the executable or the DLL it is
// linked into) carries for a file of that name (compared without regard to
// case; a path's folders are ignored). None when it pins no such file.
std::optional<Sha256> ReleasePin(const wchar_t* fileName);
// The same, read from text in the pins' form (for tests).
std::optional<Sha256> PinIn(const char* pins, size_t length, const wchar_t* fileName);

// SHA-256 of an open file's whole content, read through the handle from its
// start (bcrypt.dll from the system folder). ERROR_SUCCESS or why not.
DWORD HashOpenFile(HANDLE file, Sha256& hash);

// Whether the running executable's header names a certificate table. Told
// without any crypto library: an unsigned program (a development build, a
// copy whose signature was removed) checks nothing.
bool ProgramCarriesSignature();

// Files this program holds unchanged (no writing or deletion shared) since
// their hash matched their pin. The install-actions module, loaded into the
// launcher, takes the launcher's word for such a file (the same file, told
// by its volume and file index, not its path) instead of hashing a 40 MB
// package a second time. Withdrawn before the handle is closed.
void VouchForHeldFile(HANDLE held, const Sha256& hash);
void WithdrawVouch(HANDLE held);
// The hash this process vouches for, for an open handle of the same file;
// what the executable exports as kVouchedHashExport when it vouches at all
// (framework/entry/VouchExport.cpp), asked by a module through
// AskHostToVouch.
bool VouchedHash(HANDLE file, Sha256& hash);
inline constexpr char kVouchedHashExport[] = "QxVouchedHash";
bool AskHostToVouch(HANDLE file, Sha256& hash);

// A file's VERSIONINFO file version ("1.0.0.0"), read through version.dll
// from the system folder; empty when it has none.
std::wstring FileVersionOf(const wchar_t* path);

}  // namespace qx
