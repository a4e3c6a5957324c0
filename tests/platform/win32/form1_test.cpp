// The window Form1 as the Win32 API reports it: its frame, its controls, the rebuild when it gets
// its close button, and its close path.
#include "platform/win32/form1.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/application_window.hpp"
#include "protocol/cp1250.hpp"
#include "support.hpp"
#include "window/Form1Design.hpp"

namespace vendilox::platform::win32 {
namespace {

using test::WaitUntil;

class Events final : public IWindowEvents {
  public:
    void FormShow() override { ++Shows; }
    bool FormCloseQuery() override {
        ++Queries;
        return CanClose;
    }
    void FormClose() override { ++Closes; }

    int Shows = 0, Queries = 0, Closes = 0;
    bool CanClose = false;
};

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

RECT WindowRect(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return rect;
}

class Win32Form1Test : public testing::Test {
  protected:
    void SetUp() override { form_.SetEvents(&events_); }

    test::RecordingApplication app_;
    ApplicationWindow owner_;
    Form1 form_{app_, {}, owner_.Handle()};
    Events events_;
};

TEST_F(Win32Form1Test, IsAToolWindowOfTheDesignedSizeWithoutSystemMenu) {
    HWND window = form_.Handle();
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, 458);
    EXPECT_EQ(client.bottom, 84);
    EXPECT_TRUE(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    const auto style = ::GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_EQ(TextOf(window), L"Terminal");
    // The taskbar entry belongs to the owner, which carries the application title.
    EXPECT_EQ(::GetWindow(window, GW_OWNER), owner_.Handle());

    for (const window::TControlDesign& design : window::kControls) {
        HWND control = form_.Control(design.Id);
        RECT rect = WindowRect(control);
        ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, design.Bounds.Left) << design.Name;
        EXPECT_EQ(rect.top, design.Bounds.Top) << design.Name;
        EXPECT_EQ(rect.bottom - rect.top, design.Bounds.Height) << design.Name;
        EXPECT_GE(rect.right - rect.left, design.Bounds.Width) << design.Name;
        EXPECT_EQ(::IsWindowVisible(control) != FALSE, false) << design.Name;  // not shown yet
    }
    const auto memo = ::GetWindowLongPtrW(form_.Control(TControlId::Memo1), GWL_STYLE);
    EXPECT_TRUE(memo & ES_READONLY);
    EXPECT_TRUE(memo & ES_MULTILINE);
    EXPECT_TRUE(memo & WS_VSCROLL);
}

TEST_F(Win32Form1Test, IsCentredOnTheDesktopWhenShownAndRaisesItsShowEvent) {
    form_.Show();
    EXPECT_EQ(events_.Shows, 1);
    EXPECT_TRUE(::IsWindowVisible(form_.Handle()));
    EXPECT_TRUE(::IsWindowVisible(form_.Control(TControlId::Panel2)));
    EXPECT_FALSE(::IsWindowVisible(form_.Control(TControlId::Memo1)));
    const RECT rect = WindowRect(form_.Handle());
    const int desktopLeft = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int desktopTop = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int desktopWidth = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int desktopHeight = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    EXPECT_EQ(rect.left, desktopLeft + (desktopWidth - (rect.right - rect.left)) / 2);
    EXPECT_EQ(rect.top, desktopTop + (desktopHeight - (rect.bottom - rect.top)) / 2);
}

TEST_F(Win32Form1Test, WindowHeightIsTheOuterHeightAndStaysCentred) {
    form_.Show();
    form_.SetWindowHeight(window::kDebugWindowHeight);
    const RECT before = WindowRect(form_.Handle());
    EXPECT_EQ(before.bottom - before.top, 365);
    for (const window::TDebugPlacement& placement : window::kDebugPlacements) {
        form_.SetVisible(placement.Id, true);
        form_.SetTop(placement.Id, placement.Top);
        if (placement.Left)
            form_.SetLeft(placement.Id, *placement.Left);
    }
    // The report memo ends inside the client area of the debug window.
    RECT memo = WindowRect(form_.Control(TControlId::Memo3));
    ::MapWindowPoints(HWND_DESKTOP, form_.Handle(), reinterpret_cast<POINT*>(&memo), 2);
    RECT client{};
    ::GetClientRect(form_.Handle(), &client);
    EXPECT_EQ(memo.top, 234);
    EXPECT_LE(memo.bottom, client.bottom);
    EXPECT_TRUE(::IsWindowVisible(form_.Control(TControlId::Memo3)));
}

TEST_F(Win32Form1Test, SystemMenuRebuildsTheWindowWithEverythingItShowedAndShowsItOnceMore) {
    form_.Show();
    form_.SetCaption("Zrušeno zákazníkem"_w1250);
    form_.SetColor(TColor::Red);
    form_.SetVisible(TControlId::Memo1, true);
    form_.Memo1().AppendLine("\x02log line\x03");
    form_.Memo3().AppendLine("Stav po zpracování"_w1250);
    HWND before = form_.Handle();

    form_.AddSystemMenuIcon();
    EXPECT_NE(form_.Handle(), before);
    EXPECT_FALSE(::IsWindow(before));
    EXPECT_TRUE(::GetWindowLongPtrW(form_.Handle(), GWL_STYLE) & WS_SYSMENU);
    EXPECT_TRUE(form_.HasSystemMenuIcon());
    EXPECT_EQ(events_.Shows, 2);
    EXPECT_TRUE(::IsWindowVisible(form_.Control(TControlId::Memo1)));
    // The log draws its control bytes as their pictures.
    EXPECT_EQ(TextOf(form_.Control(TControlId::Memo1)), L"\u2402log line\u2403");
    EXPECT_EQ(TextOf(form_.Control(TControlId::Memo3)), L"Stav po zpracov\u00e1n\u00ed");
    EXPECT_EQ(form_.Caption(), "Zrušeno zákazníkem"_w1250);
    EXPECT_EQ(form_.Color(), TColor::Red);

    // Only the first change rebuilds.
    HWND rebuilt = form_.Handle();
    form_.AddSystemMenuIcon();
    EXPECT_EQ(form_.Handle(), rebuilt);
    EXPECT_EQ(events_.Shows, 2);
}

// WM_CLOSE is the system's close command (taskkill without /F sends it): refused while the
// program does not allow closing, granted once it does, and moot once the window has closed.
TEST_F(Win32Form1Test, CloseCommandGoesThroughTheCloseQuery) {
    form_.Show();
    ::SendMessageW(form_.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(events_.Queries, 1);
    EXPECT_EQ(events_.Closes, 0);
    EXPECT_EQ(app_.TerminateCalls, 0);
    EXPECT_TRUE(::IsWindowVisible(form_.Handle()));

    events_.CanClose = true;
    ::SendMessageW(form_.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(events_.Closes, 1);
    EXPECT_EQ(app_.TerminateCalls, 1);
    EXPECT_FALSE(::IsWindowVisible(form_.Handle()));

    ::SendMessageW(form_.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(events_.Queries, 2);
    EXPECT_EQ(events_.Closes, 1);
}

}  // namespace
}  // namespace vendilox::platform::win32
