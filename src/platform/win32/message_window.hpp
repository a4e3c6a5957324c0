// A message-only window: the place where a facility of the backend receives its own messages
// (timer ticks, socket events, chunks from the serial port's I/O thread) on the main thread's
// message loop.
#pragma once

#include <windows.h>

namespace vendilox::platform::win32 {

// The first message number the backend's facilities use for their own messages.
inline constexpr UINT kFirstOwnMessage = WM_APP + 0x100;

class MessageWindow {
  public:
    MessageWindow();
    virtual ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND Handle() const { return hwnd_; }

  protected:
    // Every message of the window; what it does not handle goes to DefWindowProcW.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
};

}  // namespace vendilox::platform::win32
