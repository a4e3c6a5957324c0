#include "control/Unit1.hpp"

#include <utility>

#include "control/CommandLine.hpp"
#include "control/Settings.hpp"
#include "platform/process.hpp"
#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"
#include "window/Form1Design.hpp"

namespace vendilox {

using platform::TColor;

std::string TForm1::Join(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts)
        text += part;
    return text;
}

TForm1::TForm1(platform::TForm1Components components, std::vector<std::string> params,
               std::string exePath)
    : c_(components), params_(std::move(params)), exePath_(std::move(exePath)) {
    // The window's design: the timers' intervals and the links' settings before the settings
    // file is read.
    c_.Timer1.SetInterval(kCloseDelayMs);
    c_.Timer2.SetInterval(kDesignTimeoutMs);
    c_.Timer3.SetInterval(kNotConnectedMs);
    c_.CommPort1.SetPortName("COM1");

    c_.Frame.SetEvents(this);
    c_.Timer1.SetOnTimer([this] { Timer1Timer(); });
    c_.Timer2.SetOnTimer([this] { Timer2Timer(); });
    c_.Timer3.SetOnTimer([this] { Timer3Timer(); });
    c_.CommPort1.SetOnDataReceived(
        [this](const char* data, std::size_t length) { CommPort1DataReceived(data, length); });
    c_.CommPort1.SetOnLineStatusError([this] { CommPort1LineStatusError(); });
    c_.ClientSocket1.SetOnConnect([this] { ClientSocket1Connect(); });
    c_.ClientSocket1.SetOnRead([this] { ClientSocket1Read(); });
    c_.ClientSocket1.SetOnError(
        [this](platform::TErrorEvent event, int& code) { ClientSocket1Error(event, code); });
}

TForm1::~TForm1() {
    c_.Frame.SetEvents(nullptr);
    c_.Timer1.SetOnTimer({});
    c_.Timer2.SetOnTimer({});
    c_.Timer3.SetOnTimer({});
    c_.CommPort1.SetOnDataReceived({});
    c_.CommPort1.SetOnLineStatusError({});
    c_.ClientSocket1.SetOnConnect({});
    c_.ClientSocket1.SetOnRead({});
    c_.ClientSocket1.SetOnError({});
}

void TForm1::LogLine(std::string_view line) {
    c_.Memo1.AppendLine(line);
}

void TForm1::ShowInputError(std::string_view caption, std::string_view text) {
    c_.Boxes.Show(caption, text, platform::TBoxIcon::Information, platform::TBoxOwner::TaskModal);
}

void TForm1::EndRunWithError(std::string_view message) {
    c_.Application.SetExitCode(1);
    KeepOpen = true;
    c_.Application.ShowException(message);
    c_.Application.Terminate();
}

void TForm1::FormShow() {
    if (SkipNextShow) {
        SkipNextShow = false;
        return;
    }
    if (Started)
        return;
    Started = true;

    Guarded([this] {
        const TSettings settings = LoadSettings(exePath_);
        LinkType = settings.LinkType;
        c_.CommPort1.SetPortName(settings.SerialPortName);
        c_.ClientSocket1.SetAddress(settings.TcpAddress);
        c_.ClientSocket1.SetPort(settings.TcpPort);
        TimeoutMs = settings.TimeoutMs;
        // The settings never give a negative time-out; should one come, the timer waits as for 0.
        c_.Timer2.SetInterval(TimeoutMs > 0 ? static_cast<std::uint32_t>(TimeoutMs) : 0);
        CrcCheck = settings.CrcCheck;
        DebugMode = settings.DebugMode;
        OutputPath = settings.OutputPath;
        settings_ = settings;
        journal_.Open(settings, platform::CurrentProcessId());

        if (DebugMode) {
            ApplyDebugLayout();
            CanClose = true;
        }
        CreateOutputFile(c_.Memo3, OutputPath, OutputFile);
        const bool checked =
            ReadCommandLine(params_, TransactionRequest, c_.Boxes, c_.Application, c_.Panel2);
        StartJournal(checked);
        if (!checked)
            return;
        if (KeepOpen)
            return;

        if (LinkType == 0) {
            Button1Click();
            if (c_.CommPort1.IsOpen())
                Button2Click();
        } else {
            // The request goes out from the connect event.
            c_.ClientSocket1.SetActive(true);
        }
    });
}

void TForm1::ApplyDebugLayout() {
    ApplyDebugLayout(c_.Layout);
}

void TForm1::ApplyDebugLayout(platform::IControlLayout& layout) {
    layout.SetWindowHeight(window::kDebugWindowHeight);
    for (const window::TDebugPlacement& placement : window::kDebugPlacements) {
        layout.SetVisible(placement.Id, true);
        layout.SetTop(placement.Id, placement.Top);
        if (placement.Left)
            layout.SetLeft(placement.Id, *placement.Left);
    }
}

void TForm1::Button2Click() {
    Reassembly.SetPartialFrame(false);
    const TTransactionRequest& r = TransactionRequest;
    if (!BuildRequest(r.TransactionType, r.AuthCode, r.Amount, r.TerminalId, r.InvoiceNumber,
                      c_.Clock.LocalNow(), *this, OutgoingRequest)) {
        // A zero amount: the box has told the user; the run ends without sending anything.
        c_.Application.SetExitCode(1);
        CanClose = true;
        c_.Frame.Close();
        return;
    }
    LogLine(Join({"Odeslaná data(ASCII): "_w1250, OutgoingRequest}));
    LogLine(Join({"Odeslaná data(HEX): "_w1250, HexDump(OutgoingRequest)}));
    SendToTerminal(OutgoingRequest);
    c_.Timer3.Start();
}

void TForm1::HandleActivityConfirmation() {
    if (c_.Timer3.Running())
        c_.Timer3.Stop();
    // A further confirmation leaves a running countdown alone: the time-out counts from the
    // confirmation that started it.
    if (!c_.Timer2.Running())
        c_.Timer2.Start();
}

int TForm1::HandleFinalResponse(const std::string& message) {
    c_.Timer2.Stop();
    c_.Timer3.Stop();
    return ProcessResponse(message);
}

void TForm1::StartJournal(bool checked) {
    if (journalStarted_)
        return;
    journalStarted_ = true;
    journal_.Start(VENDILOX_VERSION, params_, checked ? &TransactionRequest : nullptr, settings_);
}

void TForm1::EndJournal() {
    // A start-up that failed before the command line was read has no start record yet.
    StartJournal(false);
    journal_.End(c_.Application.ExitCode(), c_.Panel2.Caption(), c_.Panel2.Color());
}

int TForm1::ProcessResponse(const std::string& message) {
    bool parsed = false;
    try {
        parsed =
            ParseResponse(message, TransactionRequest.Amount, TransactionResult, ResponseFrames);
    } catch (const std::exception& e) {
        journal_.ResponseError(message, e.what());
        throw;
    }
    if (!parsed) {
        journal_.UnrecognisedResponse(message);
        c_.Panel2.SetCaption("Neznámý typ zprávy"_w1250);
        c_.Timer1.Start();
        KeepOpen = true;
        return 0;
    }

    c_.Clock.BlockingWait(kResponsePauseMs);
    const bool crcMatches =
        CheckResponseCrc(ResponseFrames.ResponseCrc, ResponseFrames.ResponseBody, *this);

    const bool accepted = crcMatches || !CrcCheck;
    // Write-ahead: the response is on the device before the terminal hears the answer, so an
    // approval the terminal counts as told is never missing from the journal.
    journal_.Response(message, ResponseFrames, crcMatches, accepted, TransactionResult);

    if (accepted) {
        OutcomeSettled = false;
        const bool confirmed = SendToTerminal(ResponseFrames.ConfirmFrame);
        LogLine(Join({"Odeslaná data: "_w1250, ResponseFrames.ConfirmFrame}));
        const bool approved = TransactionResult.StatusText == StatusApproved();
        if (approved) {
            c_.Panel2.SetColor(TColor::Blue);
        } else {
            c_.Panel2.SetColor(TColor::Red);
            KeepOpen = true;
        }
        if (approved && TransactionResult.TypeName == TypeNameRefund())
            TransactionResult.StatusText = std::string(StatusRefundApproved());
        c_.Panel2.SetCaption(TransactionResult.StatusText);
        try {
            WriteReport(TransactionResult, c_.Memo3, OutputFile);
        } catch (const std::exception& e) {
            journal_.Report(OutputPath, e.what());
            throw;
        }
        journal_.Report(OutputPath);
        OutcomeSettled = confirmed;
        c_.Timer1.Start();
        return 0;
    }

    SendToTerminal(ResponseFrames.RejectFrame);
    c_.Panel2.SetColor(TColor::Red);
    c_.Panel2.SetCaption(StatusCrcError());
    // The terminal is to repeat its response; one that never comes ends in the no-response
    // time-out instead of a wait without limit.
    c_.Timer2.Start();
    return 1;
}

void TForm1::Timer1Timer() {
    CanClose = true;
    // Adding the close button rebuilds the window, whose show event must not run the start-up.
    SkipNextShow = true;
    c_.Frame.AddSystemMenuIcon();
    if (!DebugMode && !KeepOpen)
        c_.Frame.Close();
}

void TForm1::Timer2Timer() {
    c_.Panel2.SetCaption("Terminál neodpovídá!"_w1250);
    KeepOpen = true;
    c_.Timer1.Start();
}

void TForm1::Timer3Timer() {
    c_.Panel2.SetCaption("Terminál není připojen!"_w1250);
    KeepOpen = true;
    c_.Timer1.Start();
}

bool TForm1::FormCloseQuery() {
    return CanClose;
}

void TForm1::FormClose() {
    // Both links are closed even when the first refuses, so the terminal's connection is never
    // left open behind a failed port.
    std::string failure;
    bool failed = false;
    auto attempt = [&](auto&& close) {
        try {
            close();
        } catch (const std::exception& e) {
            if (!failed)
                failure = e.what();
            failed = true;
        } catch (...) {
            failed = true;
        }
    };
    attempt([this] { c_.CommPort1.Close(); });
    attempt([this] { c_.ClientSocket1.SetActive(false); });
    if (failed) {
        c_.Application.ShowException(failure);
        c_.Application.Terminate();
    }
}

}  // namespace vendilox
