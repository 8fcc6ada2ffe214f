#pragma once
// Windows error codes in the log, and reports of the two failures that end
// a step (reading the package, the installation actions).
#include <windows.h>

#include <cstdint>
#include <string>

// Thrown by value and caught by reference within the function that throws.
class InstallErrorException {
public:
    explicit InstallErrorException(int32_t code) : m_nErrorCode(code) {}
    int32_t Code() const { return m_nErrorCode; }

private:
    int32_t m_nErrorCode;
};

// The code whose report text comes from the resource module, not the system.
constexpr int32_t kErrorFromCatalog = static_cast<int32_t>(0x800F1000);
constexpr size_t kReportMessageCapacity = 512;

// "===>>> ERROR :\n Code: %d\nMsg: %s" with the system's text for the code
// (user's default language) or "Unkown Error".
void LogSystemError(DWORD code);

// The report message for a code: string 15016 for 0x800F1000, otherwise the
// system's text in the user's interface language; empty when there is none.
// At most 511 characters.
std::wstring ReportMessageFor(int32_t code, HMODULE resModule);
// What the log says of the message reported: string 15016 in English (the
// log is 8-bit text), anything else as it was reported.
std::wstring ReportMessageForLog(int32_t code, HMODULE resModule, const std::wstring& reported);

// Turns the code into a message and hands it to "QXPRP4005P64.dll" in the
// launcher's folder, loaded for this one report. In a quiet run the message
// goes to the log as ERROR records instead: the module would show a window.
void ReportError(const InstallErrorException& error);

// A file of the product that the check against the program's signature
// refused: an ERROR record names it and the reason with the system's text,
// and the person is told in the launcher's own box (none in a quiet run:
// the error module may be the file refused). The first refusal's result is
// the run's exit code (RefusalCode, S_OK while there was none).
void ReportRefusal(const std::wstring& path, HRESULT result);
HRESULT RefusalCode();

// What reports need of the application, handed over once at start-up: the
// resource module (for string 15016; may be null) and whether reports go to
// the log only.
void SetReportingContext(HMODULE resModule, bool quiet);
