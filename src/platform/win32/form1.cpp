#include "platform/win32/form1.hpp"

#include <algorithm>

#include "platform/platform.hpp"
#include "platform/win32/text.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::platform::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TForm1";
constexpr int kFirstControlId = 100;
// A tool window with a caption bar and a fixed border, nothing in the caption bar until the
// program lets the user close it.
constexpr DWORD kBaseStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE;
constexpr DWORD kMemoStyle = WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;

HFONT DesignFont(const window::TFontDesign& font) {
    // A negative height asks for the character height, as the design gives it.
    return ::CreateFontW(-font.PixelHeight, 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                         FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, Wide(font.Face).c_str());
}

// The window class and style of each kind of control.
const wchar_t* ClassName(window::TControlKind kind) {
    switch (kind) {
        case window::TControlKind::Memo:
            return L"EDIT";
        case window::TControlKind::Button:
            return L"BUTTON";
        default:
            return L"STATIC";
    }
}

DWORD ControlStyle(window::TControlKind kind) {
    switch (kind) {
        case window::TControlKind::Panel:
            return WS_CHILD | SS_OWNERDRAW;  // drawn here: bevel, bold caption in its colour
        case window::TControlKind::Memo:
            return kMemoStyle;
        case window::TControlKind::Button:
            return WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON;
        default:
            return WS_CHILD | SS_LEFT | SS_NOPREFIX;
    }
}

void ScrollToCaret(HWND edit) {
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

}  // namespace

void LogMemo::Attach(HWND edit) {
    edit_ = edit;
    if (edit_ == nullptr)
        return;
    ::SetWindowTextW(edit_, shown_.c_str());
    const auto end = static_cast<WPARAM>(shown_.size());
    ::SendMessageW(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
    ScrollToCaret(edit_);
}

void LogMemo::AppendLine(std::string_view line) {
    std::wstring added = shown_.empty() ? L"" : L"\r\n";
    added += DisplayText(line, true);
    shown_ += added;
    if (edit_ != nullptr) {
        const auto end = static_cast<WPARAM>(::GetWindowTextLengthW(edit_));
        ::SendMessageW(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
        ::SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
        ScrollToCaret(edit_);
    }
    if (echo_)
        echo_("log", line);
}

void ReportMemo::Attach(HWND edit) {
    edit_ = edit;
    Refill();
}

void ReportMemo::Clear() {
    lines_.clear();
    Refill();
}

void ReportMemo::AppendLine(std::string_view line) {
    lines_.emplace_back(line);
    Refill();
}

std::string ReportMemo::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void ReportMemo::Refill() {
    if (edit_ == nullptr)
        return;
    std::wstring shown;
    for (const auto& line : lines_) {
        if (!shown.empty())
            shown += L"\r\n";
        shown += DisplayText(line, false);
    }
    ::SetWindowTextW(edit_, shown.c_str());
    // The report is read from its first line, the outcome, however long it grows.
    ::SendMessageW(edit_, EM_SETSEL, 0, 0);
    ScrollToCaret(edit_);
}

Form1::Form1(IApplication& app, TEcho echo, HWND owner)
    : app_(app),
      echo_(std::move(echo)),
      owner_(owner),
      memo1_(echo_),
      formFont_(DesignFont(window::kFormFont)),
      captionFont_(DesignFont(window::kCaptionFont)),
      caption_(window::kDesignStatus) {
    for (const window::TControlDesign& design : window::kControls) {
        TControl& control = controls_.at(Index(design.Id));
        control.Kind = design.Kind;
        control.Text = design.Caption;
        control.Left = design.Bounds.Left;
        control.Top = design.Bounds.Top;
        control.Width = design.Bounds.Width;
        control.Height = design.Bounds.Height;
        control.Visible = design.Visible;
    }
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Form1::Procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    if (atom == 0)
        throw std::runtime_error("The window class of Form1 cannot be registered");
    Build();
}

Form1::~Form1() {
    memo1_.Attach(nullptr);
    memo3_.Attach(nullptr);
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    ::DeleteObject(formFont_);
    ::DeleteObject(captionFont_);
}

DWORD Form1::Style() const {
    return systemMenu_ ? kBaseStyle | WS_SYSMENU : kBaseStyle;
}

SIZE Form1::OuterSize() const {
    RECT rect{0, 0, window::kClientWidth, clientHeight_};
    ::AdjustWindowRectEx(&rect, Style(), FALSE, kExStyle);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void Form1::Build() {
    const SIZE size = OuterSize();
    hwnd_ =
        ::CreateWindowExW(kExStyle, kClassName, L"Terminal", Style(), CW_USEDEFAULT, CW_USEDEFAULT,
                          size.cx, size.cy, owner_, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr)
        throw std::runtime_error("The window Form1 cannot be created");
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        TControl& control = controls_[i];
        const bool memo = control.Kind == window::TControlKind::Memo;
        control.Window = ::CreateWindowExW(
            memo ? WS_EX_CLIENTEDGE : 0, ClassName(control.Kind),
            Wide(memo ? std::string_view() : std::string_view(control.Text)).c_str(),
            ControlStyle(control.Kind), control.Left, control.Top, control.Width, control.Height,
            hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)),
            ::GetModuleHandleW(nullptr), nullptr);
        if (control.Window == nullptr)
            throw std::runtime_error("A control of Form1 cannot be created");
        ::SendMessageW(
            control.Window, WM_SETFONT,
            reinterpret_cast<WPARAM>(i == Index(TControlId::Panel2) ? captionFont_ : formFont_),
            FALSE);
        if (memo)
            ::SendMessageW(control.Window, EM_SETLIMITTEXT, 0, 0);  // no limit but memory's
        Place(control);
        ::EnableWindow(control.Window, control.Enabled);
        ::ShowWindow(control.Window, control.Visible ? SW_SHOWNA : SW_HIDE);
    }
    memo1_.Attach(Control(TControlId::Memo1));
    memo3_.Attach(Control(TControlId::Memo3));
}

void Form1::Place(TControl& control) {
    int width = control.Width;
    if (control.Kind == window::TControlKind::Label && control.Visible) {
        // A label keeps its design size at least and grows to its text, since the design sizes
        // were measured for a font this system may not have. Hidden labels are measured when
        // they are shown: measuring loads the font, which has no business delaying the request.
        HDC dc = ::GetDC(control.Window);
        HGDIOBJ previous = ::SelectObject(dc, formFont_);
        const std::wstring text = Wide(control.Text);
        SIZE extent{};
        if (::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent))
            width = std::max<int>(width, extent.cx);
        ::SelectObject(dc, previous);
        ::ReleaseDC(control.Window, dc);
    }
    ::SetWindowPos(control.Window, nullptr, control.Left, control.Top, width, control.Height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::Show() {
    // Centred before it appears, so that it does not jump, and once more after the program's
    // show handler, which may have given it the debug height.
    CentreOnDesktop();
    // Painted when the loop comes round, after the show handler has started the link: the
    // first paint loads the fonts.
    ::ShowWindow(hwnd_, SW_SHOW);
    if (events_ != nullptr)
        Dispatch(app_, [this] { events_->FormShow(); });
    CentreOnDesktop();
}

void Form1::CentreOnDesktop() {
    if (hwnd_ == nullptr)
        return;
    RECT rect{};
    ::GetWindowRect(hwnd_, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int desktopWidth = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int desktopHeight = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ::SetWindowPos(hwnd_, nullptr, left + (desktopWidth - width) / 2,
                   top + (desktopHeight - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::SetCaption(std::string_view text) {
    caption_ = text;
    ::InvalidateRect(Control(TControlId::Panel2), nullptr, TRUE);
    if (echo_) {
        std::string line = color_ == TColor::Blue ? "blue " : "red ";
        line += caption_;
        echo_("status", line);
    }
}

void Form1::SetColor(TColor color) {
    color_ = color;
    ::InvalidateRect(Control(TControlId::Panel2), nullptr, TRUE);
}

void Form1::DrawPanel(const DRAWITEMSTRUCT& item) {
    RECT rect = item.rcItem;
    ::FillRect(item.hDC, &rect, ::GetSysColorBrush(COLOR_BTNFACE));
    ::DrawEdge(item.hDC, &rect, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    HGDIOBJ previous = ::SelectObject(item.hDC, captionFont_);
    ::SetBkMode(item.hDC, TRANSPARENT);
    const window::TRgb colour = window::CaptionColor(color_);
    ::SetTextColor(item.hDC, RGB(colour.Red, colour.Green, colour.Blue));
    std::wstring text = DisplayText(caption_, false);
    ::DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &rect,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(item.hDC, previous);
}

void Form1::SetVisible(TControlId control, bool visible) {
    TControl& c = controls_.at(Index(control));
    c.Visible = visible;
    Place(c);
    ::ShowWindow(c.Window, visible ? SW_SHOWNA : SW_HIDE);
}

void Form1::SetTop(TControlId control, int top) {
    TControl& c = controls_.at(Index(control));
    c.Top = top;
    Place(c);
}

void Form1::SetLeft(TControlId control, int left) {
    TControl& c = controls_.at(Index(control));
    c.Left = left;
    Place(c);
}

void Form1::SetEnabled(TControlId control, bool enabled) {
    TControl& c = controls_.at(Index(control));
    c.Enabled = enabled;
    ::EnableWindow(c.Window, enabled);
}

void Form1::SetWindowHeight(int height) {
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, Style(), FALSE, kExStyle);
    clientHeight_ = std::max<int>(0, height - (frame.bottom - frame.top));
    const SIZE size = OuterSize();
    ::SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::AddSystemMenuIcon() {
    if (systemMenu_)
        return;
    systemMenu_ = true;
    // A change of the border icons rebuilds the window, which raises its show event once more,
    // as the program expects of this change. The controls come back as they were.
    const bool wasVisible = hwnd_ != nullptr && ::IsWindowVisible(hwnd_);
    RECT place{};
    ::GetWindowRect(hwnd_, &place);
    memo1_.Attach(nullptr);
    memo3_.Attach(nullptr);
    HWND old = hwnd_;
    ::SetWindowLongPtrW(old, GWLP_USERDATA, 0);
    Build();
    ::SetWindowPos(hwnd_, nullptr, place.left, place.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::DestroyWindow(old);
    if (wasVisible)
        Show();
}

bool Form1::ClosePath() {
    // A close request that arrives while one is being handled (for instance while FormClose
    // shows a message box) is refused instead of running the close a second time, and so is one
    // after the window has closed.
    if (closing_)
        return false;
    closing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{closing_};
    if (events_ != nullptr && !events_->FormCloseQuery())
        return false;
    if (events_ != nullptr)
        events_->FormClose();
    // Form1 is the main window: its closing ends the application.
    app_.Terminate();
    return true;
}

void Form1::Close() {
    if (ClosePath())
        ::ShowWindow(hwnd_, SW_HIDE);
}

bool Form1::SystemClose() {
    if (app_.Terminated())
        return false;  // already closed; a second request (taskkill asks every window) is moot
    bool granted = false;
    Dispatch(app_, [&] { granted = ClosePath(); });
    if (granted)
        ::ShowWindow(hwnd_, SW_HIDE);
    return granted;
}

LRESULT CALLBACK Form1::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Form1*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->hwnd_ != hwnd)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}

LRESULT Form1::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            SystemClose();
            return 0;  // never DefWindowProc: the window stays until the process ends
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->hwndItem == Control(TControlId::Panel2)) {
                DrawPanel(*item);
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC: {
            const auto control = reinterpret_cast<HWND>(lParam);
            auto dc = reinterpret_cast<HDC>(wParam);
            if (control == Control(TControlId::Memo1) || control == Control(TControlId::Memo3)) {
                // Read-only memos keep the window colour of an edit field.
                ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
                ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
            }
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace vendilox::platform::win32
