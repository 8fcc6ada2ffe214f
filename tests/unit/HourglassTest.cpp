#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "diag/Logger.h"
#include "framework/AnimateCtrl.h"
#include "tests/support/Desktop.h"
#include "tests/support/Paths.h"
#include "tests/support/TemporaryLog.h"
#include "ui/WaitUIThread.h"

namespace {

// A launcher built beside the test program, mapped for its resources only.
HMODULE LauncherResources(const wchar_t* relative) {
    return LoadLibraryExW((qxtest::ProgramFolder() + relative).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// Runs this thread's messages until done() or the time is up: the control
// sends to its parent, which this thread owns.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    for (const DWORD start = GetTickCount();;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Start notifications the control posts to its parent: a clip began to play.
int g_starts = 0;
// Background colour requests the control sends its parent: it is erasing
// itself before a repaint.
int g_erasures = 0;

INT_PTR CALLBACK PopupProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && HIWORD(wParam) == ACN_START) ++g_starts;
    if (message == WM_CTLCOLORSTATIC) ++g_erasures;
    return FALSE;
}

using qxtest::Capture;
using qxtest::Pixels;

class HourglassTest : public ::testing::Test {
protected:
    // One popup for all tests (Wine takes two seconds to destroy one), made
    // from the launcher's own template 102 so that the control gets the
    // client area it gets in the product.
    static void SetUpTestSuite() {
        HMODULE launcher = LauncherResources(L"..\\product\\QXVSetup64.exe");
        HRSRC found = launcher ? FindResourceW(launcher, MAKEINTRESOURCEW(102), RT_DIALOG) : nullptr;
        if (found)
            popup_.m_hWnd = CreateDialogIndirectParamW(
                GetModuleHandleW(nullptr), static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(launcher, found))),
                nullptr, PopupProc, 0);
        if (launcher) FreeLibrary(launcher);
    }
    static void TearDownTestSuite() { DestroyWindow(popup_.m_hWnd); }

    void SetUp() override { ASSERT_NE(popup_.m_hWnd, nullptr); }
    // The thread ends before the log goes.
    void TearDown() override { Finish(); }

    // The thread procedure on a thread of its own; with a module, the clip is
    // taken from that module instead of the executable.
    void Start(CWnd* dialog, HMODULE module = nullptr, UINT (*dpiOf)(HWND) = nullptr) {
        dialogArg_ = dialog;
        module_ = module;
        dpiOf_ = dpiOf;
        thread_ = CreateThread(nullptr, 0, &HourglassTest::Body, this, 0, &threadId_);
        ASSERT_NE(thread_, nullptr);
    }
    static DWORD WINAPI Body(LPVOID self) {
        auto* t = static_cast<HourglassTest*>(self);
        if (t->dpiOf_) return RunWaitUI(t->dialogArg_, GetModuleHandleW(nullptr), t->dpiOf_);
        return t->module_ ? RunWaitUI(t->dialogArg_, t->module_) : WaitUIThreadProc(t->dialogArg_);
    }
    // The exit code once the thread ends; STILL_ACTIVE when it does not in time.
    DWORD WaitForExit(DWORD timeoutMs) {
        DWORD code = STILL_ACTIVE;
        PumpUntil([&] { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, timeoutMs);
        GetExitCodeThread(thread_, &code);
        return code;
    }
    void Finish() {
        if (!thread_) return;
        if (WaitForExit(0) == STILL_ACTIVE) {
            PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
            WaitForExit(5000);
        }
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    HWND Control() const { return FindWindowExW(popup_.m_hWnd, nullptr, ANIMATE_CLASSW, nullptr); }
    // The control once its clip has started.
    HWND StartAndWaitForPlay() {
        const int starts = g_starts;
        Start(&popup_);
        return PumpUntil([&] { return g_starts > starts; }, 10000) ? Control() : nullptr;
    }
    // Whether what the control shows changes from now on, looked at until
    // it does or a generous limit passes.
    bool Changes() {
        const Pixels before = Capture(Control());
        return PumpUntil([&] { return Capture(Control()).data != before.data; }, 10000);
    }
    // Whether the clip starts playing while it is watched for ms: that
    // nothing starts can only be told by watching for a while.
    bool StartsWhileWatched(DWORD ms) {
        const int starts = g_starts;
        return PumpUntil([&] { return g_starts > starts; }, ms);
    }
    std::string Log() const { return log_.Bytes(); }

    static inline CWnd popup_;
    qxtest::TemporaryLog log_{L"hourglass"};
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    CWnd* dialogArg_ = nullptr;
    HMODULE module_ = nullptr;
    UINT (*dpiOf_)(HWND) = nullptr;
};

// The part of what a control shows that is not its background (the
// corner's colour); empty when nothing is drawn.
RECT DrawnArea(const Pixels& p) {
    RECT drawn = {p.width, p.height, -1, -1};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.data[y * p.width + x] != p.data[0])
                drawn = {std::min(drawn.left, static_cast<LONG>(x)), std::min(drawn.top, static_cast<LONG>(y)),
                         std::max(drawn.right, static_cast<LONG>(x)), std::max(drawn.bottom, static_cast<LONG>(y))};
    return drawn;
}

// Whether what is drawn lies in the side x side square at the centre.
::testing::AssertionResult DrawnWithinCentredSquare(const Pixels& p, int side) {
    const RECT drawn = DrawnArea(p);
    if (drawn.right < 0) return ::testing::AssertionFailure() << "nothing is drawn";
    if (drawn.left >= (p.width - side) / 2 - 1 && drawn.right <= (p.width + side) / 2 &&
        drawn.top >= (p.height - side) / 2 - 1 && drawn.bottom <= (p.height + side) / 2)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "drawn " << drawn.left << "," << drawn.top << " to " << drawn.right << ","
                                         << drawn.bottom << " in " << p.width << " x " << p.height << ", not within "
                                         << side;
}

UINT g_dpi = USER_DEFAULT_SCREEN_DPI;
UINT WINAPI TestDpi(HWND) { return g_dpi; }

TEST_F(HourglassTest, ControlFillsTheClientAreaPlaysCentredAndStopsOnWmUser1) {
    HWND control = StartAndWaitForPlay();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetDlgCtrlID(control), 129);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)), 0x50000007u);
    EXPECT_EQ(GetWindowThreadProcessId(control, nullptr), threadId_) << "owned by the hourglass thread";
    RECT client, placed;
    GetClientRect(popup_.m_hWnd, &client);
    GetWindowRect(control, &placed);
    MapWindowPoints(nullptr, popup_.m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(EqualRect(&client, &placed));

    EXPECT_TRUE(Changes()) << "the clip plays";
    // The session's scale is 100 %: the 80-pixel clip, at the centre.
    EXPECT_TRUE(DrawnWithinCentredSquare(Capture(control), 80));

    PostMessageW(control, WM_USER + 1, 0, 0);
    EXPECT_EQ(WaitForExit(5000), 1u);
    EXPECT_FALSE(IsWindow(control));
    EXPECT_NE(Log().find("Inside Setup's Wait UI Thread"), std::string::npos);
    EXPECT_EQ(Log().find("Failed"), std::string::npos);
}

TEST_F(HourglassTest, TheClipFollowsTheScaleAndStaysCentred) {
    // The popup as Windows would size it for each scale, and the clip the
    // control then plays: larger than the one before, at the centre.
    g_dpi = USER_DEFAULT_SCREEN_DPI;
    const int starts = g_starts;
    Start(&popup_, nullptr, TestDpi);
    ASSERT_TRUE(PumpUntil([&] { return g_starts > starts; }, 10000));
    HWND control = Control();
    ASSERT_NE(control, nullptr);
    RECT original = {};
    GetWindowRect(popup_.m_hWnd, &original);
    const struct {
        UINT dpi;
        int side;   // of the clip's frames
    } scales[] = {{96, 80}, {144, 120}, {192, 120}, {120, 80}};
    int before = 0;
    for (const auto& scale : scales) {
        SCOPED_TRACE(scale.dpi);
        g_dpi = scale.dpi;
        const LONG width = MulDiv(original.right - original.left, static_cast<int>(scale.dpi), 96);
        const LONG height = MulDiv(original.bottom - original.top, static_cast<int>(scale.dpi), 96);
        const RECT suggested = {original.left, original.top, original.left + width, original.top + height};
        FollowScaleChange(popup_.m_hWnd, suggested, threadId_);
        RECT client = {}, placed = {};
        // Done once the control fills the new client area and shows a
        // picture larger than the last scale's clip (or smaller, going back),
        // centred in it (also where the clip stays the same).
        const bool fitted = PumpUntil(
            [&] {
                GetClientRect(popup_.m_hWnd, &client);
                GetWindowRect(control, &placed);
                MapWindowPoints(nullptr, popup_.m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
                const RECT drawn = DrawnArea(Capture(control));
                const int tall = static_cast<int>(drawn.bottom - drawn.top + 1);
                return EqualRect(&client, &placed) && drawn.right >= 0 &&
                       (scale.side > before ? tall > before : tall <= scale.side) &&
                       static_cast<bool>(DrawnWithinCentredSquare(Capture(control), scale.side));
            },
            10000);
        EXPECT_TRUE(fitted) << "the control fills the client area with the clip of this scale";
        EXPECT_TRUE(DrawnWithinCentredSquare(Capture(control), scale.side));
        EXPECT_EQ(GetWindowThreadProcessId(control, nullptr), threadId_) << "still the hourglass thread's";
        before = scale.side;
    }
    FollowScaleChange(popup_.m_hWnd, original, threadId_);
    EXPECT_EQ(WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE)) << "the clips play on";
    EXPECT_EQ(Log().find("Failed"), std::string::npos);
}

TEST(HourglassScale, EachScaleGetsTheLargestClipNotLargerThanItsOwn) {
    const struct {
        UINT dpi;
        UINT clip;
    } cases[] = {{96, 129}, {120, 129}, {143, 129}, {144, 130}, {168, 130}, {191, 130}, {192, 130}, {480, 130},
                 {72, 129}};
    for (const auto& c : cases) {
        EXPECT_EQ(HourglassClipFor(c.dpi), c.clip) << c.dpi << " dpi";
    }
}

TEST_F(HourglassTest, QuitPostedToTheThreadIsAnOrderlyStop) {
    HWND control = StartAndWaitForPlay();
    ASSERT_NE(control, nullptr);
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    EXPECT_EQ(WaitForExit(5000), 1u);
    EXPECT_FALSE(IsWindow(control));
    EXPECT_TRUE(IsWindow(popup_.m_hWnd));
}

TEST_F(HourglassTest, PlayCommandsKeepTheThreadRunning) {
    HWND control = StartAndWaitForPlay();
    ASSERT_NE(control, nullptr);
    // The first frame as the control itself shows it: stopped and put there
    // by sent messages, done once the calls return.
    SendMessageW(control, ACM_STOP, 0, 0);
    SendMessageW(control, ACM_PLAY, 0, MAKELPARAM(0, 0));
    const Pixels first = Capture(control);

    int starts = g_starts;
    PostThreadMessageW(threadId_, WM_USER + 2, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return g_starts > starts; }, 10000)) << "played again";
    EXPECT_TRUE(Changes());
    SendMessageW(control, ACM_STOP, 0, 0);
    EXPECT_NE(Capture(control).data, first.data) << "stopped some frames on";
    // The first frame is drawn, then the control erased and painted again
    // (the erasure asks this thread for the background): done once it shows
    // that frame after the erasure. It stays: no play starts, and the
    // first frame is what is shown at the end.
    const int erasures = g_erasures;
    PostMessageW(control, WM_USER + 3, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return g_erasures > erasures && Capture(control).data == first.data; }, 10000))
        << "back at the first frame";
    EXPECT_FALSE(StartsWhileWatched(500)) << "the first frame stays";
    EXPECT_TRUE(PumpUntil([&] { return Capture(control).data == first.data; }, 10000)) << "the first frame stays";

    // Showing the last frame and playing again leave the thread running; the
    // start of the play tells that both were handled.
    starts = g_starts;
    PostMessageW(control, WM_USER + 4, 0, 0);
    PostMessageW(control, WM_USER + 2, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return g_starts > starts; }, 10000)) << "played after the last frame";
    EXPECT_EQ(WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(IsWindow(control));
    PostMessageW(control, WM_USER + 1, 0, 0);
    EXPECT_EQ(WaitForExit(5000), 1u);
}

TEST_F(HourglassTest, RefusedPlayCommandDestroysTheControlAndEndsWith0) {
    for (UINT command : {WM_USER + 2, WM_USER + 3, WM_USER + 4}) {
        SCOPED_TRACE(command - WM_USER);
        HWND control = StartAndWaitForPlay();
        ASSERT_NE(control, nullptr);
        SendMessageW(control, ACM_OPENW, 0, 0);   // no clip: every play is refused
        PostMessageW(control, command, 0, 0);
        EXPECT_EQ(WaitForExit(5000), 0u);
        EXPECT_FALSE(IsWindow(control));
        Finish();
    }
}

TEST_F(HourglassTest, ModuleWithoutTheClipEndsWith0AfterTheTrace) {
    HMODULE noClip = LauncherResources(L"noclip\\QXVSetup64.exe");
    ASSERT_NE(noClip, nullptr);
    Start(&popup_, noClip);
    EXPECT_EQ(WaitForExit(10000), 0u);
    FreeLibrary(noClip);
    EXPECT_EQ(Control(), nullptr) << "destroyed";
    EXPECT_TRUE(IsWindow(popup_.m_hWnd)) << "the dialog stays";
    const std::string log = Log();
    const size_t inside = log.find("Inside Setup's Wait UI Thread");
    ASSERT_NE(inside, std::string::npos);
    EXPECT_NE(log.find("Failed to Open AVI Resource", inside), std::string::npos);
}

TEST_F(HourglassTest, NoDialogWindowMeansNoControl) {
    CWnd gone;
    gone.m_hWnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone.m_hWnd);
    for (CWnd* dialog : {static_cast<CWnd*>(nullptr), &gone}) {
        log_.Clear();
        Start(dialog);
        EXPECT_EQ(WaitForExit(10000), 0u);
        EXPECT_NE(Log().find("Failed to create Animation Control"), std::string::npos);
        Finish();
    }
}

TEST(AnimateCtrl, WrapperOwnsItsOneWindow) {
    CWnd parent;
    parent.m_hWnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 90, 90, nullptr, nullptr, nullptr, nullptr);
    const RECT rect = {0, 0, 90, 90};
    HWND window = nullptr;
    {
        CAnimateCtrl animate;
        EXPECT_FALSE(animate.Create(WS_CHILD, rect, nullptr, 7)) << "no parent";
        ASSERT_TRUE(animate.Create(WS_CHILD, rect, &parent, 7));
        window = animate.m_hWnd;
        EXPECT_FALSE(animate.Create(WS_CHILD, rect, &parent, 8)) << "one window per wrapper";
        EXPECT_FALSE(animate.Open(GetModuleHandleW(nullptr), 4242));
        EXPECT_TRUE(animate.Open(GetModuleHandleW(nullptr), 129));
        EXPECT_TRUE(animate.Play(0, 0xFFFF, 1));
    }
    EXPECT_FALSE(IsWindow(window));
    DestroyWindow(parent.m_hWnd);
}

TEST(HourglassResources, LaunchersCarryTheTemplateAndIconAndOnlyTheProductTheClip) {
    const std::vector<std::pair<int, int>> icons = {{16, 4}, {16, 8}, {16, 32}, {32, 4}, {32, 8},
                                                    {32, 32}, {48, 4}, {48, 8}, {48, 32}};
    for (const wchar_t* launcher : {L"..\\product\\QXVSetup64.exe", L"noclip\\QXVSetup64.exe"}) {
        SCOPED_TRACE(std::string(launcher, launcher + wcslen(launcher)));
        HMODULE module = LauncherResources(launcher);
        ASSERT_NE(module, nullptr);

        // The window that template 102 makes, as the system makes it: a
        // visible popup with a thin border and no caption or title, centred,
        // 93 by 80 dialog units of 8-point "MS Shell Dlg", with no controls.
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(102), RT_DIALOG);
        ASSERT_NE(found, nullptr);
        HWND popup = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                                static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(module, found))),
                                                nullptr, PopupProc, 0);
        ASSERT_NE(popup, nullptr);
        const LONG style = GetWindowLongW(popup, GWL_STYLE);
        EXPECT_TRUE(style & WS_POPUP);
        EXPECT_TRUE(IsWindowVisible(popup));
        EXPECT_EQ(style & WS_CAPTION, static_cast<LONG>(WS_BORDER)) << "a thin border, no caption";
        EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME));
        EXPECT_EQ(GetWindowTextLengthW(popup), 0);
        EXPECT_EQ(GetWindow(popup, GW_CHILD), nullptr) << "no controls";
        RECT units = {0, 0, 93, 80};
        MapDialogRect(popup, &units);
        RECT client = {};
        GetClientRect(popup, &client);
        EXPECT_EQ(client.right, units.right);
        EXPECT_EQ(client.bottom, units.bottom);
        RECT window = {};
        GetWindowRect(popup, &window);
        EXPECT_NEAR((window.left + window.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
        EXPECT_NEAR((window.top + window.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
        LOGFONTW font = {};
        ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(popup, WM_GETFONT, 0, 0)), sizeof font, &font));
        EXPECT_STREQ(font.lfFaceName, L"MS Shell Dlg");
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72)) << "8 point";
        ReleaseDC(nullptr, screen);
        EXPECT_FALSE(font.lfItalic);
        DestroyWindow(popup);

        found = FindResourceW(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON);
        ASSERT_NE(found, nullptr);
        const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        std::vector<std::pair<int, int>> images;   // size, bits per pixel
        for (WORD i = 0; i < *reinterpret_cast<const WORD*>(group + 4); ++i)
            images.push_back({group[6 + 14 * i], *reinterpret_cast<const WORD*>(group + 6 + 14 * i + 6)});
        std::sort(images.begin(), images.end());
        EXPECT_EQ(images, icons);

        // The clip for each scale: 100 %, 150 % and more.
        for (const auto& [clip, side] : {std::pair{129, 80u}, std::pair{130, 120u}}) {
            SCOPED_TRACE(clip);
            found = FindResourceW(module, MAKEINTRESOURCEW(clip), L"AVI");
            if (wcsstr(launcher, L"noclip")) {
                EXPECT_EQ(found, nullptr);
                continue;
            }
            ASSERT_NE(found, nullptr);
            const char* riff = static_cast<const char*>(LockResource(LoadResource(module, found)));
            EXPECT_EQ(std::string(riff, 4) + std::string(riff + 8, 4) + std::string(riff + 24, 4), "RIFFAVI avih");
            // The main header's width and height.
            EXPECT_EQ(*reinterpret_cast<const UINT32*>(riff + 64), side);
            EXPECT_EQ(*reinterpret_cast<const UINT32*>(riff + 68), side);
        }
        FreeLibrary(module);
    }
}

}  // namespace
