// TForm1's handlers of the two links to the terminal: opening the serial port, sending frames,
// passing every received chunk to the receive reassembly, and reporting link failures.
#include <array>
#include <string>

#include "control/Unit1.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox {

using platform::TBoxIcon;
using platform::TBoxOwner;
using platform::TControlId;

bool TForm1::SendToTerminal(std::string_view frame) {
    // One call with the whole frame, nothing added; the link's errors reach the sender.
    bool sent = true;
    try {
        if (LinkType == 0) {
            c_.CommPort1.Write(frame.data(), frame.size());
        } else if (LinkType == 1) {
            sent = c_.ClientSocket1.SendBuf(frame.data(), static_cast<int>(frame.size())) >= 0;
        }
    } catch (const std::exception& e) {
        journal_.Sent(frame, e.what());
        throw;
    }
    journal_.Sent(frame, sent ? "" : "the socket did not take the frame");
    return sent;
}

void TForm1::Button1Click() {
    if (!c_.CommPort1.IsOpen()) {
        bool opened = true;
        try {
            c_.CommPort1.Open();
        } catch (...) {
            opened = false;
        }
        if (!opened) {
            LogLine("Nelze otevřít port..."_w1250);
            c_.Panel2.SetCaption("Nelze otevřít port..."_w1250);
            const std::string text = Join({"Nelze otevřít port \""_w1250, c_.CommPort1.PortName(),
                                           "\" pro komunikaci s terminálem!"_w1250});
            c_.Boxes.Show("Chyba", text, TBoxIcon::Error, TBoxOwner::Window);
            c_.Application.SetExitCode(1);
            c_.Application.Terminate();
            return;
        }
        if (c_.CommPort1.IsOpen()) {
            LogLine("Otevřen port pro komunikaci..."_w1250);
            c_.Layout.SetEnabled(TControlId::Button2, true);
        }
        return;
    }

    bool closed = true;
    try {
        c_.CommPort1.Close();
    } catch (...) {
        closed = false;
    }
    if (!closed) {
        LogLine("Nelze zavřít port..."_w1250);
        c_.Panel2.SetCaption("Nelze zavřít port..."_w1250);
        c_.Boxes.Show("Chyba", "Nelze zavřít port pro komunikaci s terminálem!"_w1250,
                      TBoxIcon::Error, TBoxOwner::Window);
        c_.Application.Terminate();
    }
    // The port counts as closed after a failed close too.
    if (!c_.CommPort1.IsOpen()) {
        LogLine("Zavřen port pro komunikaci..."_w1250);
        c_.Layout.SetEnabled(TControlId::Button2, false);
    }
}

void TForm1::CommPort1DataReceived(const char* data, std::size_t length) {
    // Exactly the bytes delivered, zero bytes included. A response that cannot be taken apart
    // ends the run here instead of in the component, which could only drop the error.
    const std::string chunk(data, length);
    journal_.Received(chunk);
    Guarded([&] { Reassembly.HandleReceivedData(chunk); });
}

void TForm1::CommPort1LineStatusError() {
    LogLine("Line status error");
}

void TForm1::ClientSocket1Connect() {
    Guarded([this] { Button2Click(); });
}

void TForm1::ClientSocket1Read() {
    const int waiting = c_.ClientSocket1.ReceiveLength();
    if (waiting > kMaxTcpChunk) {
        LogLine("TCP data jsou prilis velka!");
        return;
    }
    // The data bytes and the zero byte that ends them.
    std::array<char, kMaxTcpChunk + 1> buffer{};
    int received = waiting > 0 ? c_.ClientSocket1.ReceiveBuf(buffer.data(), waiting) : 0;
    // A socket that reports more than was asked, or an error as a negative count, must not
    // move the end of the text outside the buffer.
    if (received < 0)
        received = 0;
    if (received > waiting)
        received = waiting;
    // The journal keeps the bytes as they came, for a replay that gives the program the same.
    journal_.Received(std::string_view(buffer.data(), static_cast<std::size_t>(received)));
    buffer[static_cast<std::size_t>(received)] = '\0';
    // The text ends at the first zero byte, also one inside the data.
    const std::string chunk(buffer.data());
    Guarded([&] { Reassembly.HandleReceivedData(chunk); });
}

void TForm1::ClientSocket1Error(platform::TErrorEvent /*errorEvent*/, int& /*errorCode*/) {
    const std::string text =
        Join({"Nelze navázat spojení s terminálem. (Host:"_w1250, c_.ClientSocket1.Address(),
              ", Port:", std::to_string(c_.ClientSocket1.Port()), ")"});
    if (OutcomeSettled) {
        // The terminal has its confirmation and the caller its report: a caller that read a
        // failure now might charge the card again. The run ends as the outcome says.
        LogLine(text);
        return;
    }
    c_.Panel2.SetCaption("Nelze navázat spojení"_w1250);
    LogLine(text);
    c_.Boxes.Show("Chyba", text, TBoxIcon::Error, TBoxOwner::Window);
    c_.Application.SetExitCode(1);
    c_.Application.Terminate();
}

}  // namespace vendilox
