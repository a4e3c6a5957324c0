// One fake platform: every component of the main window on one virtual loop, for flow tests
// of the window object and for the process entry.
#pragma once

#include <cstdint>

#include "platform/fake/fake_links.hpp"
#include "platform/fake/fake_loop.hpp"
#include "platform/fake/fake_ui.hpp"
#include "platform/fake/fake_window.hpp"
#include "platform/platform.hpp"

namespace vendilox::platform::fake {

class FakePlatform : public IPlatform {
  public:
    // Guards of platforms given the same mutexes see each other, as two processes on one
    // system do; without them the platform has a system of its own.
    explicit FakePlatform(FakeNamedMutexes* system = nullptr);
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    ISingleInstanceGuard& InstanceGuard() override { return Guard; }
    IMessageBox& MessageBoxes() override { return Boxes; }
    IApplication& Application() override { return App; }
    TForm1Components CreateForm1() override;

    // What Application().Run() does unless a test sets App.OnRun: show the window, then run
    // the loop until the end is requested or nothing is due within RunLimitMs of virtual time
    // (a window held open would otherwise tick for ever).
    void RunLoop();
    std::uint64_t RunLimitMs = 10 * 60 * 1000;

    FakeNamedMutexes OwnMutexes;
    FakeMessageBox Boxes;
    FakeApplication App{Boxes};
    FakeLoop Loop{App};
    FakeClock Clock{Loop};
    FakeStatusCaption Panel2;
    FakeLogMemo Memo1;
    FakeReportMemo Memo3;
    FakeWindow Window{App};
    FakeTimer Timer1{Loop};
    FakeTimer Timer2{Loop};
    FakeTimer Timer3{Loop};
    FakeSerialPort CommPort1{Loop};
    FakeClientSocket ClientSocket1{Loop};
    FakeSingleInstanceGuard Guard;
    int FormsCreated = 0;
};

}  // namespace vendilox::platform::fake
