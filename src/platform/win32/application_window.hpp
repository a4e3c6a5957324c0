// The hidden application window: the owner of Form1, whose title is the application title.
#pragma once

#include <windows.h>

#include <functional>
#include <string_view>

namespace vendilox::platform::win32 {

// A tool window has no taskbar entry of its own; this window, owning it, gives the program one,
// titled with the application title rather than the window's caption "Terminal". It has no size,
// so nothing of it is seen but the taskbar entry. A close request sent to it (taskkill asks every
// top-level window of the process) is the main window's close request.
class ApplicationWindow {
  public:
    ApplicationWindow();
    ~ApplicationWindow();
    ApplicationWindow(const ApplicationWindow&) = delete;
    ApplicationWindow& operator=(const ApplicationWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    void SetTitle(std::string_view cp1250Title);
    // Shows the taskbar entry.
    void Show();
    void SetOnClose(std::function<void()> handler) { onClose_ = std::move(handler); }

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    std::function<void()> onClose_;
};

}  // namespace vendilox::platform::win32
