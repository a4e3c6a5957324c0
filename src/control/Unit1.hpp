// The program's one window object: it owns the whole state of the run and carries the control
// logic in its event handlers, from the first show of the window to the end of the process.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "control/Journal.hpp"
#include "control/Report.hpp"
#include "control/Settings.hpp"
#include "platform/platform.hpp"
#include "protocol/host.hpp"
#include "protocol/reassembly.hpp"
#include "protocol/request.hpp"
#include "protocol/response.hpp"

namespace vendilox {

class TForm1 final : public platform::IWindowEvents, public IProtocolHost, public IReassemblyHost {
  public:
    static constexpr std::uint32_t kCloseDelayMs = 4000;       // Timer1
    static constexpr std::uint32_t kDesignTimeoutMs = 120000;  // Timer2 until settings load
    static constexpr std::uint32_t kNotConnectedMs = 5000;     // Timer3
    static constexpr std::uint32_t kResponsePauseMs = 1000;    // before a response is answered
    static constexpr int kMaxTcpChunk = 4096;                  // bytes read at one read event

    // Registers itself as the window's events and as the handler of the timers and the links.
    // params are the command-line parameters without the program name, exePath the
    // executable's full path; both Windows-1250.
    TForm1(platform::TForm1Components components, std::vector<std::string> params,
           std::string exePath);
    // Detaches from the components, which the platform may keep after the window object.
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Window events.
    void FormShow() override;  // the start-up
    bool FormCloseQuery() override;
    void FormClose() override;

    // The transaction flow.
    void Button2Click();  // the send step
    void HandleActivityConfirmation() override;
    int HandleFinalResponse(const std::string& message) override;
    int ProcessResponse(const std::string& message);
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void ApplyDebugLayout();
    // The debug layout itself, for any window with the program's controls (the snapshot tool
    // shows the same layout the program applies).
    static void ApplyDebugLayout(platform::IControlLayout& layout);

    // The log, and the input-error box the protocol functions show.
    void LogLine(std::string_view line) override;
    void ShowInputError(std::string_view caption, std::string_view text) override;

    // The links (Links.cpp).
    // false: the link refused the bytes at once and reports the failure through its error event.
    bool SendToTerminal(std::string_view frame);
    void Button1Click();  // opens the serial port when closed, closes it when open
    void CommPort1DataReceived(const char* data, std::size_t length);
    void CommPort1LineStatusError();
    void ClientSocket1Connect();
    void ClientSocket1Read();
    void ClientSocket1Error(platform::TErrorEvent errorEvent, int& errorCode);

    // The run ends on an error it cannot go on from: the message in the standard error box,
    // exit code 1, the window kept from closing by itself, and the end of the program requested.
    void EndRunWithError(std::string_view message);

    // The state of the run, readable by the backends and by tests.
    std::int32_t LinkType = 0;  // 0 serial, 1 TCP
    std::int32_t TimeoutMs = static_cast<std::int32_t>(kDesignTimeoutMs);
    bool CrcCheck = false;
    bool DebugMode = false;
    std::string OutputPath;
    TTransactionRequest TransactionRequest;
    std::string OutgoingRequest;
    TTransactionResult TransactionResult;
    TResponseFrames ResponseFrames;
    TReceiveReassembly Reassembly{*this};
    TOutputFile OutputFile;
    bool CanClose = false;
    bool SkipNextShow = false;
    bool KeepOpen = false;
    // The start-up has run; a later show event (a window restored or rebuilt) must not run it
    // again, which would truncate the result file of the finished run and send a second request.
    bool Started = false;
    // The confirmation of an accepted response went to the link without error and its report is
    // in the result file: the terminal's outcome is settled, and a link error after it (a reset
    // in the close wait) must not turn it into a failure for the caller.
    bool OutcomeSettled = false;

    // The journal's last record, once the message loop has ended: the exit code and the status
    // caption the run ended with.
    void EndJournal();

  private:
    // The parts one after another: the log lines and messages are made this way.
    static std::string Join(std::initializer_list<std::string_view> parts);

    // Runs one step that may raise and sends any error it raises to EndRunWithError.
    template <class Step>
    void Guarded(Step&& step);

    platform::TForm1Components c_;
    std::vector<std::string> params_;
    std::string exePath_;
    TSettings settings_;
    // A journal that cannot be written says so in the log, once; the run goes on without it.
    TJournal journal_{c_.Clock, [this](std::string_view line) { LogLine(line); }};
    bool journalStarted_ = false;
    // The start record, with the parameters as checked when they passed.
    void StartJournal(bool checked);
};

template <class Step>
void TForm1::Guarded(Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        EndRunWithError(e.what());
    } catch (...) {
        // A thrown value that is not an exception has no message to show.
        EndRunWithError("");
    }
}

}  // namespace vendilox
