#include "platform/fake/fake_platform.hpp"

namespace vendilox::platform::fake {

FakePlatform::FakePlatform(FakeNamedMutexes* system) : Guard(system ? *system : OwnMutexes) {
    App.OnRun = [this] { RunLoop(); };
}

TForm1Components FakePlatform::CreateForm1() {
    ++FormsCreated;
    return TForm1Components{App,    Boxes,  Clock,  Panel2, Memo1,     Memo3,        Window,
                            Window, Timer1, Timer2, Timer3, CommPort1, ClientSocket1};
}

void FakePlatform::RunLoop() {
    if (App.Terminated())
        return;
    Window.Show();
    Loop.RunUntilEnd(Loop.Now() + RunLimitMs);
}

}  // namespace vendilox::platform::fake
