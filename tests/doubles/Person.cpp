// A person at the desktop: another program holding unsaved work, and the
// hand that answers the launcher's restart question.
//   Person.exe <record file> save|refuse [yes|no]
// Its window "Unsaved work" writes each end-of-session message to the
// record file, one line each ("query", then "saved" or "refused";
// "end 1" or "end 0"), and answers the question to end the session as
// told. With yes or no it also answers the launcher's restart box and
// records "answered yes" or "answered no". It ends by itself after three
// minutes, so nothing it does outlives a test that failed.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "framework/Ownership.h"
#include "res/ProductIdentity.h"
#include "res/ProductTexts.h"

namespace {

std::wstring g_record;
bool g_save = true;
int g_answer = 0;   // IDYES, IDNO, or 0: leave the box alone
constexpr UINT_PTR kLookForBox = 1, kGiveUp = 2;

void Record(const char* line) {
    const qx::UniqueHandle file(CreateFileW(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    WriteFile(file.get(), "\r\n", 2, &written, nullptr);
    // On disk before the session may end this process.
    FlushFileBuffers(file.get());
}

// The launcher's restart question: the setup's caption, Yes and No buttons.
// Answered a second and a half after it shows, as a person reads it first
// (and the demo photographs it).
void AnswerRestartBox() {
    static ULONGLONG seen = 0;
    const std::wstring caption = EnglishFallbackText(kIdsPadCaption);
    HWND box = FindWindowW(L"#32770", caption.c_str());
    if (!box || !IsWindowVisible(box) || !GetDlgItem(box, IDYES)) return;
    if (!seen) seen = GetTickCount64();
    if (GetTickCount64() - seen < 1500) return;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(g_answer, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, g_answer)));
    Record(g_answer == IDYES ? "answered yes" : "answered no");
    g_answer = 0;
}

LRESULT CALLBACK WorkWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            Record("query");
            Record(g_save ? "saved" : "refused");
            return g_save ? TRUE : FALSE;
        case WM_ENDSESSION:
            Record(wParam ? "end 1" : "end 0");
            return 0;
        case WM_TIMER:
            if (wParam == kGiveUp) PostQuitMessage(0);
            if (wParam == kLookForBox && g_answer) AnswerRestartBox();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    g_record = argv[1];
    g_save = std::wstring(argv[2]) != L"refuse";
    if (argc > 3) g_answer = std::wstring(argv[3]) == L"yes" ? IDYES : IDNO;

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WorkWindow;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"QxTestUnsavedWork";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"QxTestUnsavedWork", L"Unsaved work", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300,
                                120, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    SetTimer(window, kLookForBox, 100, nullptr);
    SetTimer(window, kGiveUp, 180000, nullptr);
    Record("ready");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
