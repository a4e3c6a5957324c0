// Fakes of the user-facing platform pieces for tests: they record what the program shows and
// answer message boxes at once.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/application.hpp"
#include "platform/window.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::platform::fake {

struct TShownBox {
    std::string Caption;
    std::string Text;
    TBoxIcon Icon;
    TBoxOwner Owner;
    bool operator==(const TShownBox&) const = default;
};

class FakeMessageBox : public IMessageBox {
  public:
    void Show(std::string_view caption, std::string_view text, TBoxIcon icon,
              TBoxOwner owner) override {
        Shown.push_back({std::string(caption), std::string(text), icon, owner});
        if (OnShow)
            OnShow(Shown.back());
    }
    std::vector<TShownBox> Shown;
    // Runs while the box is "open", before Show returns (a modal box's own loop).
    std::function<void(const TShownBox&)> OnShow;
};

class FakeApplication : public IApplication {
  public:
    explicit FakeApplication(IMessageBox& boxes) : boxes_(boxes) {}
    void SetTitle(std::string_view title) override { title_ = title; }
    std::string Title() const override { return title_; }
    void Run() override {
        if (OnRun)
            OnRun();
    }
    void Terminate() override { ++TerminateCalls; }
    bool Terminated() const override { return TerminateCalls > 0; }
    void SetExitCode(int code) override { exitCode_ = code; }
    int ExitCode() const override { return exitCode_; }
    void ShowException(std::string_view message) override {
        Exceptions.emplace_back(message);
        boxes_.Show(title_, ExceptionText(message), TBoxIcon::Error, TBoxOwner::Window);
    }

    int TerminateCalls = 0;
    std::vector<std::string> Exceptions;
    // What the message loop does in a test (for example: show the window, advance time).
    std::function<void()> OnRun;

  private:
    IMessageBox& boxes_;
    std::string title_;
    int exitCode_ = 0;
};

class FakeStatusCaption : public IStatusCaption {
  public:
    void SetCaption(std::string_view text) override {
        caption_ = text;
        History.push_back(caption_);
    }
    std::string Caption() const override { return caption_; }
    void SetColor(TColor color) override { color_ = color; }
    TColor Color() const override { return color_; }
    std::vector<std::string> History;

  private:
    std::string caption_{"Nákup"_w1250};  // the design caption
    TColor color_ = TColor::Blue;
};

class FakeLogMemo : public ILogMemo {
  public:
    void AppendLine(std::string_view line) override { Lines.emplace_back(line); }
    std::vector<std::string> Lines;
};

class FakeReportMemo : public IReportMemo {
  public:
    void Clear() override { Lines.clear(); }
    void AppendLine(std::string_view line) override { Lines.emplace_back(line); }
    std::string Text() const override {
        std::string text;
        for (const auto& line : Lines) {
            text += line;
            text += "\r\n";
        }
        return text;
    }
    std::vector<std::string> Lines;
};

}  // namespace vendilox::platform::fake
