#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/request.hpp"

namespace vendilox::platform {

enum class TBoxIcon { Information, Warning, Error };

enum class TBoxOwner {
    Window,     // modal to the program's window
    TaskModal,  // no owner window, modal to the whole task
    None,       // no owner window, not task-modal
};

// Message boxes with one OK button. Texts are Windows-1250. Show returns when the box is closed.
class IMessageBox {
  public:
    virtual ~IMessageBox() = default;
    virtual void Show(std::string_view caption, std::string_view text, TBoxIcon icon,
                      TBoxOwner owner) = 0;
};

// The application object: title, message loop, end request, exit code, exception display.
class IApplication {
  public:
    virtual ~IApplication() = default;
    virtual void SetTitle(std::string_view title) = 0;
    virtual std::string Title() const = 0;
    // Shows the main window and runs the message loop until the end has been requested.
    virtual void Run() = 0;
    // Requests the end of the application; it takes effect when control returns to the loop, so
    // the code after the request in the same handler still runs.
    virtual void Terminate() = 0;
    virtual bool Terminated() const = 0;
    // The process exit code, 0 at start.
    virtual void SetExitCode(int code) = 0;
    virtual int ExitCode() const = 0;
    // The standard error box for an exception: ExceptionText(message), the title as caption,
    // the error icon.
    virtual void ShowException(std::string_view message) = 0;
};

// The message of the exception display: "." is appended when the last character sorts after ".".
inline std::string ExceptionText(std::string_view message) {
    std::string text(message);
    if (!text.empty() &&
        static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
        text.push_back('.');
    }
    return text;
}

// The local clock and the one blocking wait of the program.
class IClock {
  public:
    virtual ~IClock() = default;
    virtual TDateTime LocalNow() = 0;
    // Blocks the main thread; events that fall due meanwhile are handled after it, in order.
    virtual void BlockingWait(std::uint32_t ms) = 0;
};

// The system-wide guard that keeps a second instance from running.
class ISingleInstanceGuard {
  public:
    enum class TState {
        Owned,          // this process holds the name now
        AlreadyExists,  // another process holds it
        Unavailable,    // the guard could not be created; run without it
    };
    virtual ~ISingleInstanceGuard() = default;
    virtual TState Create(std::string_view name) = 0;
    // Gives the name back; harmless when nothing is held.
    virtual void Release() = 0;
};

}  // namespace vendilox::platform
