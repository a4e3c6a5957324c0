// What the program needs of its one window: the status caption, the two memos, the layout of
// the controls for debug mode, the border icons and the close request.
#pragma once

#include <string>
#include <string_view>

namespace vendilox::platform {

enum class TColor { Blue, Red };

// The large status caption (Panel2). Texts are Windows-1250.
class IStatusCaption {
  public:
    virtual ~IStatusCaption() = default;
    virtual void SetCaption(std::string_view text) = 0;
    virtual std::string Caption() const = 0;
    virtual void SetColor(TColor color) = 0;
    virtual TColor Color() const = 0;
};

// The communication log (Memo1): lines are only ever appended.
class ILogMemo {
  public:
    virtual ~ILogMemo() = default;
    virtual void AppendLine(std::string_view line) = 0;
};

// The report memo (Memo3), in which the report is assembled before it is written.
class IReportMemo {
  public:
    virtual ~IReportMemo() = default;
    virtual void Clear() = 0;
    virtual void AppendLine(std::string_view line) = 0;
    // Every line followed by CR LF.
    virtual std::string Text() const = 0;
};

enum class TControlId { Panel2, Label1, Label2, Memo1, Memo3, Button1, Button2 };

// Visibility and placement of the controls, in pixels at 96 dots per inch.
class IControlLayout {
  public:
    virtual ~IControlLayout() = default;
    virtual void SetVisible(TControlId control, bool visible) = 0;
    virtual void SetTop(TControlId control, int top) = 0;
    virtual void SetLeft(TControlId control, int left) = 0;
    virtual void SetEnabled(TControlId control, bool enabled) = 0;
    // The window's outer height, caption bar and border included.
    virtual void SetWindowHeight(int height) = 0;
};

// Events of the window, handled by the program's window object.
class IWindowEvents {
  public:
    virtual void FormShow() = 0;
    // The close query: true lets the window close.
    virtual bool FormCloseQuery() = 0;
    virtual void FormClose() = 0;

  protected:
    ~IWindowEvents() = default;
};

// The window frame: border icons and closing.
class IWindowFrame {
  public:
    virtual ~IWindowFrame() = default;
    virtual void SetEvents(IWindowEvents* events) = 0;
    // Gives the caption bar its close button. The first time, the window is rebuilt and its show
    // event is raised once more; afterwards nothing happens.
    virtual void AddSystemMenuIcon() = 0;
    virtual bool HasSystemMenuIcon() const = 0;
    // A close request: asks FormCloseQuery, and when it grants it runs FormClose and, this being
    // the main window, requests the end of the application. Returns when that is done.
    virtual void Close() = 0;
};

}  // namespace vendilox::platform
