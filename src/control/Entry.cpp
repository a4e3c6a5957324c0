#include "control/Entry.hpp"

#include <exception>
#include <optional>
#include <utility>

#include "control/Unit1.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox {

namespace {

constexpr std::string_view kInstanceName = "vendilox_ecr";
constexpr std::string_view kTitle = "Vendilox";

}  // namespace

int RunVendilox(platform::IPlatform& platform, std::vector<std::string> params,
                std::string exePath) {
    platform::ISingleInstanceGuard& guard = platform.InstanceGuard();
    const auto state = guard.Create(kInstanceName);
    if (state == platform::ISingleInstanceGuard::TState::AlreadyExists) {
        // The running instance is left alone, and this one touches nothing: no window, no
        // settings file, no result file. Its caller must not take the other run's result file
        // for its own outcome, so the refusal is a failure.
        guard.Release();
        platform.MessageBoxes().Show(kInstanceName, "vendilox_ecr už jednou běží."_w1250,
                                     platform::TBoxIcon::Warning, platform::TBoxOwner::None);
        return 1;
    }
    // Unavailable: the program runs without the guard.

    platform::IApplication& app = platform.Application();
    // The window object outlives the message loop, so that the journal's end record has the
    // exit code of an error that left the loop too.
    std::optional<TForm1> form1;
    try {
        app.SetTitle(kTitle);
        form1.emplace(platform.CreateForm1(), std::move(params), std::move(exePath));
        app.Run();
    } catch (const std::exception& e) {
        app.ShowException(e.what());
        app.SetExitCode(1);
    } catch (...) {
        app.ShowException("");
        app.SetExitCode(1);
    }
    if (form1) {
        form1->EndJournal();
        form1.reset();
    }

    guard.Release();
    return app.ExitCode();
}

}  // namespace vendilox
