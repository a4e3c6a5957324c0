// The program's one window, Form1, on the Win32 API: a tool window with the large status caption,
// the log and report memos of debug mode, the two hidden command buttons, and a caption bar that
// gets its close button only when the program allows closing.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/application.hpp"
#include "platform/win32/application.hpp"
#include "platform/window.hpp"
#include "window/Form1Design.hpp"

namespace vendilox::platform::win32 {

// Memo1, the communication log: lines are appended and the newest one is scrolled into view.
class LogMemo final : public ILogMemo {
  public:
    explicit LogMemo(TEcho echo) : echo_(std::move(echo)) {}
    void AppendLine(std::string_view line) override;

    // The edit control that shows the log, or nullptr while the window is being rebuilt.
    void Attach(HWND edit);

  private:
    TEcho echo_;
    HWND edit_ = nullptr;
    std::wstring shown_;  // what the control shows, to refill it after a rebuild
};

// Memo3, the report memo. Its lines are kept byte for byte as they came, because the result file
// is written from Text(); the control is only a view of them.
class ReportMemo final : public IReportMemo {
  public:
    void Clear() override;
    void AppendLine(std::string_view line) override;
    std::string Text() const override;

    void Attach(HWND edit);

  private:
    void Refill();

    HWND edit_ = nullptr;
    std::vector<std::string> lines_;
};

class Form1 final : public IStatusCaption, public IControlLayout, public IWindowFrame {
  public:
    // app receives the end request when the window closes and shows what escapes a handler.
    // owner is the hidden application window that carries the taskbar entry.
    Form1(IApplication& app, TEcho echo, HWND owner);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    ILogMemo& Memo1() { return memo1_; }
    IReportMemo& Memo3() { return memo3_; }
    HWND Handle() const { return hwnd_; }
    HWND Control(TControlId control) const { return controls_.at(Index(control)).Window; }

    // Shows the window and raises the show event; the window is centred on the desktop.
    void Show();

    // IStatusCaption
    void SetCaption(std::string_view text) override;
    std::string Caption() const override { return caption_; }
    void SetColor(TColor color) override;
    TColor Color() const override { return color_; }

    // IControlLayout
    void SetVisible(TControlId control, bool visible) override;
    void SetTop(TControlId control, int top) override;
    void SetLeft(TControlId control, int left) override;
    void SetEnabled(TControlId control, bool enabled) override;
    void SetWindowHeight(int height) override;

    // IWindowFrame
    void SetEvents(IWindowEvents* events) override { events_ = events; }
    void AddSystemMenuIcon() override;
    bool HasSystemMenuIcon() const override { return systemMenu_; }
    void Close() override;

    // The system's close command (close button, Alt+F4, WM_CLOSE from outside): the close path,
    // with what escapes the program's handlers shown instead of thrown. True when it was granted.
    bool SystemClose();

  private:
    // A control's state, kept here so that a rebuilt window gets its controls back as they were.
    struct TControl {
        window::TControlKind Kind = window::TControlKind::Label;
        std::string Text;  // Windows-1250
        int Left = 0, Top = 0, Width = 0, Height = 0;
        bool Visible = false;
        bool Enabled = true;
        HWND Window = nullptr;
    };

    static std::size_t Index(TControlId control) { return static_cast<std::size_t>(control); }
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    DWORD Style() const;
    SIZE OuterSize() const;
    void Build();
    void Place(TControl& control);
    void DrawPanel(const DRAWITEMSTRUCT& item);
    void CentreOnDesktop();
    bool ClosePath();

    IApplication& app_;
    TEcho echo_;
    HWND owner_;
    IWindowEvents* events_ = nullptr;
    LogMemo memo1_;
    ReportMemo memo3_;
    std::array<TControl, 7> controls_;
    HFONT formFont_ = nullptr;
    HFONT captionFont_ = nullptr;
    HWND hwnd_ = nullptr;
    int clientHeight_ = window::kClientHeight;
    std::string caption_;
    TColor color_ = TColor::Blue;
    bool systemMenu_ = false;
    bool closing_ = false;
};

}  // namespace vendilox::platform::win32
