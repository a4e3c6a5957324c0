// The program's one window, Form1: the large status caption, the hidden log and report memos of
// debug mode, the two hidden command buttons, and the frame that gets its close button only when
// the program allows closing.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/application.hpp"
#include "platform/window.hpp"

class QLabel;
class QPushButton;

namespace vendilox::platform::qt {

// Receives what the window shows when nobody watches it (unattended mode): the kind ("status",
// "log") and the Windows-1250 text. Empty: the window only draws.
using TEcho = std::function<void(std::string_view kind, std::string_view cp1250Text)>;

// The text of a Windows-1250 string for display. With controlPictures the bytes 0x00 to 0x1F and
// 0x7F are drawn as their Unicode control pictures, so that STX, FS and ETX in a log line are
// visible and a CR or LF does not break the line.
QString DisplayText(std::string_view cp1250Text, bool controlPictures);

// The two memos get their editor only when the window first needs it on the screen (debug mode):
// building a text editor lays out its empty document, and that loads the fonts, which would
// otherwise be the largest part of the start-up before the request goes out. Until then a memo
// keeps its lines itself.

// Memo1, the communication log: lines are appended and the newest one is scrolled into view.
class LogMemo final : public ILogMemo {
  public:
    explicit LogMemo(TEcho echo) : echo_(std::move(echo)) {}
    void AppendLine(std::string_view line) override;
    // Shows the log in editor from now on, every line so far included.
    void Attach(QPlainTextEdit& editor);

  private:
    TEcho echo_;
    std::vector<std::string> pending_;  // the lines, until there is an editor
    QPlainTextEdit* editor_ = nullptr;
};

// Memo3, the report memo. Its lines are kept byte for byte as they came, because the result file
// is written from Text(); the display is only a view of them.
class ReportMemo final : public IReportMemo {
  public:
    void Clear() override;
    void AppendLine(std::string_view line) override;
    std::string Text() const override;
    // Shows the report in editor from now on.
    void Attach(QPlainTextEdit& editor);

  private:
    void ShowFirstLine();

    std::vector<std::string> lines_;
    QPlainTextEdit* editor_ = nullptr;
};

class Form1 final : public QWidget,
                    public IStatusCaption,
                    public IControlLayout,
                    public IWindowFrame {
  public:
    // app receives the end request when the window closes and shows what escapes a handler.
    explicit Form1(IApplication& app, TEcho echo = {});

    ILogMemo& Memo1() { return memo1_; }
    IReportMemo& Memo3() { return memo3_; }
    // The control's widget; a memo's editor is built by the first call for it.
    QWidget* Control(TControlId control);

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

    // The system's close command (close button, Alt+F4, a termination signal): the close path,
    // with what escapes the program's handlers shown instead of thrown. True when it was granted.
    bool SystemClose();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    bool ClosePath();

    IApplication& app_;
    TEcho echo_;
    IWindowEvents* events_ = nullptr;
    QLabel* panel2_;
    LogMemo memo1_;
    ReportMemo memo3_;
    std::array<QWidget*, 7> controls_{};
    std::string caption_;
    TColor color_ = TColor::Blue;
    bool systemMenu_ = false;
    bool closing_ = false;
};

}  // namespace vendilox::platform::qt
