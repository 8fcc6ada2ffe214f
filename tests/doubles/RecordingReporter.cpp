// An error-reporting module that records each message instead of showing it.
// Built three ways: recording, without the export, and with an export that
// returns no object.
#include "modules/ErrorInterface.h"
#include "tests/doubles/Record.h"

namespace {

using qxdouble::ThisModule;

class RecordingReporter final : public IErrorInterface {
public:
    int ReportErrorMessage(const wchar_t* message, int a, int b) override {
        qxdouble::AppendRecord(ThisModule(), L"report-record.txt",
                               L"message=" + std::wstring(message ? message : L"(null)") + L"|args=" +
                                   std::to_wstring(a) + L"," + std::to_wstring(b));
        return 0;
    }
};

RecordingReporter g_reporter;

}  // namespace

#if defined(QX_REPORTER_RETURNS_NULL)
extern "C" __declspec(dllexport) IErrorInterface* GetErrorInterface() { return nullptr; }
#elif !defined(QX_REPORTER_WITHOUT_EXPORT)
extern "C" __declspec(dllexport) IErrorInterface* GetErrorInterface() { return &g_reporter; }
#else
extern "C" __declspec(dllexport) int SomethingElse() { return g_reporter.ReportErrorMessage(L"", 0, 0); }
#endif
