// What the person installing sees of the launcher: a small centred popup
// whose hourglass plays, and an installation that does not need the clip.
#include <algorithm>

#include "tests/scenario/ScenarioTest.h"
#include "tests/support/ActionsPause.h"
#include "tests/support/Waits.h"

namespace qxtest {
namespace {

class PopupTest : public ScenarioTest {
protected:
    HWND WaitForPopup(const Process& p) {
        HWND popup = nullptr;
        WaitUntil([&] {
            const auto shown = VisibleWindowsOf(p.Id(), L"#32770");
            popup = shown.empty() ? nullptr : shown[0];
            return popup != nullptr;
        });
        return popup;
    }

    // Dialog units of the popup's font ("MS Shell Dlg", 8 point) in pixels,
    // measured on a dialog of our own with that font.
    static RECT TemplateSizeInPixels(int cx, int cy) {
        struct {
            DLGTEMPLATE t;
            WORD menu, cls, title, points;
            wchar_t face[13];
        } tmpl = {};
        tmpl.t.style = WS_POPUP | DS_SETFONT;
        tmpl.t.cx = static_cast<short>(cx);
        tmpl.t.cy = static_cast<short>(cy);
        tmpl.points = 8;
        lstrcpyW(tmpl.face, L"MS Shell Dlg");
        HWND probe = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &tmpl.t, nullptr,
                                                [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        RECT r = {0, 0, cx, cy};
        if (probe) {
            MapDialogRect(probe, &r);
            DestroyWindow(probe);
        }
        return r;
    }
};

TEST_F(PopupTest, CentredPopupOfTheTemplateSizeWithAPlayingClip) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    // The module holds the lock until the popup has been looked at.
    WriteActionsScript(folder, "result=0\npause_before_unlock=1\n");
    const ActionsPause inModule(kPauseBeforeUnlock);
    Process p = Process::Start(folder + L"QXVSetup64.exe", L"CALLER=SETUP");
    HWND popup = WaitForPopup(p);
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(inModule.Reached(kHangGuardMs));
    // The hourglass thread adds its control once it runs.
    ASSERT_TRUE(WaitUntil([&] { return GetDlgItem(popup, 129) != nullptr; })) << "no animation control";

    RECT units = TemplateSizeInPixels(93, 80);
    RECT client;
    GetClientRect(popup, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    EXPECT_EQ(WindowText(popup), kProductName) << "named for screen readers";
    LONG style = GetWindowLongW(popup, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE((style & WS_CAPTION) == WS_CAPTION);

    RECT window;
    GetWindowRect(popup, &window);
    int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_NEAR((window.left + window.right) / 2, screenW / 2, 2);
    EXPECT_NEAR((window.top + window.bottom) / 2, screenH / 2, 2);

    HWND clip = GetDlgItem(popup, 129);
    ASSERT_NE(clip, nullptr) << "the animation control";
    wchar_t cls[32] = {};
    GetClassNameW(clip, cls, 32);
    EXPECT_STREQ(cls, L"SysAnimate32");

    const auto first = Capture(window);
    EXPECT_TRUE(WaitUntil([&] {
        const auto now = Capture(window);
        size_t differing = 0;
        for (size_t i = 0; i < first.size() && i < now.size(); ++i) differing += first[i] != now[i];
        return differing > 20;
    }, 10000, 100)) << "the hourglass moves";

    inModule.Go();
    ASSERT_TRUE(p.Wait(kStartTimeoutMs));
}

TEST_F(PopupTest, LauncherWithoutTheClipStillInstalls) {
    const std::wstring folder = MakeLauncherFolder(folder_, kInstallScenario);
    ASSERT_TRUE(CopyInto(BuildDir() + L"tests\\noclip\\QXVSetup64.exe", folder));
    WriteActionsScript(folder, "result=0\n");
    RunToEnd(folder, L"CALLER=SETUP");
    EXPECT_EQ(RecordLines(folder + L"actions-record.txt").size(), 1u);
    auto texts = LogTexts("TRACE");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Failed to Open AVI Resource"), texts.end());
}

}  // namespace
}  // namespace qxtest
