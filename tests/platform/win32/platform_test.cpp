// The platform as the entry uses it: the window with its components, and the close command sent
// to the hidden application window, where taskkill sends it too.
#include "platform/win32/platform.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/cp1250.hpp"
#include "support.hpp"

namespace vendilox::platform::win32 {
namespace {

class Events final : public IWindowEvents {
  public:
    void FormShow() override {}
    bool FormCloseQuery() override {
        ++Queries;
        return true;
    }
    void FormClose() override {}
    int Queries = 0;
};

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

TEST(Win32PlatformTest, CreatesTheWindowWithItsComponentsAsDesigned) {
    std::vector<std::string> echoed;
    Win32Platform platform([&](std::string_view kind, std::string_view text) {
        echoed.push_back(std::string(kind) + ": " + std::string(text));
    });
    TForm1Components form = platform.CreateForm1();
    EXPECT_EQ(form.Timer1.Interval(), 4000u);
    EXPECT_EQ(form.Timer2.Interval(), 120000u);
    EXPECT_EQ(form.Timer3.Interval(), 5000u);
    EXPECT_FALSE(form.Timer1.Running() || form.Timer2.Running() || form.Timer3.Running());
    EXPECT_EQ(form.CommPort1.PortName(), "COM1");
    EXPECT_FALSE(form.ClientSocket1.Active());
    EXPECT_EQ(form.Panel2.Caption(), "Nákup"_w1250);

    form.Application.SetTitle("Vendilox");
    EXPECT_EQ(TextOf(platform.ApplicationHandle()), L"Vendilox");

    // Unattended: boxes, captions and log lines go to the echo instead of a user.
    form.Panel2.SetCaption("Transakce provedena"_w1250);
    form.Memo1.AppendLine("Konec transakce");
    form.Boxes.Show("Chyba", "Nelze navázat spojení"_w1250, TBoxIcon::Error, TBoxOwner::Window);
    EXPECT_EQ(echoed, (std::vector<std::string>{
                          "status: blue " + std::string("Transakce provedena"_w1250),
                          "log: Konec transakce",
                          "box: Chyba: " + std::string("Nelze navázat spojení"_w1250)}));
}

TEST(Win32PlatformTest, CloseCommandToTheApplicationWindowClosesTheMainWindow) {
    Win32Platform platform([](std::string_view, std::string_view) {});
    TForm1Components form = platform.CreateForm1();
    Events events;
    form.Frame.SetEvents(&events);
    // Run would wait for messages; the window is shown as Run shows it, then the close comes.
    platform.Form()->Show();
    ::SendMessageW(platform.ApplicationHandle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(events.Queries, 1);
    EXPECT_TRUE(form.Application.Terminated());
    // The owner is still there: it is not destroyed by the close command.
    EXPECT_TRUE(::IsWindow(platform.ApplicationHandle()));
    form.Frame.SetEvents(nullptr);
}

TEST(Win32MessageBoxTest, FlagsCarryTheIconAndTheModality) {
    struct Row {
        TBoxIcon icon;
        TBoxOwner owner;
        UINT flags;
    };
    for (const Row& row : {Row{TBoxIcon::Information, TBoxOwner::TaskModal,
                               MB_OK | MB_ICONINFORMATION | MB_TASKMODAL},
                           Row{TBoxIcon::Warning, TBoxOwner::None, MB_OK | MB_ICONWARNING},
                           Row{TBoxIcon::Error, TBoxOwner::Window, MB_OK | MB_ICONERROR}}) {
        EXPECT_EQ(Win32MessageBox::Flags(row.icon, row.owner), row.flags);
    }
}

// The end of the run is a flag the loop looks at after every message: the handler that asked
// finishes first, and a request before the loop has started skips it.
TEST(Win32ApplicationTest, EndTakesEffectWhenTheRequestingHandlerHasFinished) {
    Win32MessageBox boxes([](std::string_view, std::string_view) {});
    Win32Application app(boxes);
    bool after = false;
    app.SetMainWindow([&] {
        ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0);
        app.Terminate();
        after = true;
    });
    app.Run();
    EXPECT_TRUE(after);
    EXPECT_TRUE(app.Terminated());
}

}  // namespace
}  // namespace vendilox::platform::win32
