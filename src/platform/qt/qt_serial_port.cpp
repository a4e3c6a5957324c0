#include "platform/qt/qt_serial_port.hpp"

#include <sys/ioctl.h>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include <QMetaObject>

#include "platform/platform.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::platform::qt {

namespace {

// The name as the system should see it. QSerialPort would look a name without a path up under
// /dev; the program passes its configured name to the system unchanged instead, so a relative
// name is made explicit as one.
QString SystemName(const std::string& name) {
    QString path = QString::fromStdString(Cp1250ToUtf8(name));
    if (path.isEmpty() || path.startsWith(u'/') || path.startsWith(QStringLiteral("./")) ||
        path.startsWith(QStringLiteral("../"))) {
        return path;
    }
    return QStringLiteral("./") + path;
}

std::string ErrorText(const QSerialPort& port) {
    return Utf8ToCp1250(port.errorString().toStdString());
}

}  // namespace

QtSerialPort::QtSerialPort(IApplication& app) : app_(app) {
    QObject::connect(&port_, &QSerialPort::readyRead, this, [this] { OnReadyRead(); });
    QObject::connect(&port_, &QSerialPort::errorOccurred, this,
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialPort::~QtSerialPort() {
    Close();
}

void QtSerialPort::Open() {
    if (port_.isOpen())
        return;
    port_.setPortName(SystemName(name_));
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // QSerialPort opens the device exclusively (a lock file and TIOCEXCL) and applies the
    // settings above; any failure leaves it closed.
    if (!port_.open(QIODevice::ReadWrite)) {
        std::string message = "Serial port \"" + name_ + "\" cannot be opened: " + ErrorText(port_);
        port_.clearError();
        throw ELinkError(message);
    }
    // The lines are held off where the device has them; a pseudo-terminal has none, and that is
    // no reason to refuse the port.
    port_.setDataTerminalReady(false);
    port_.setRequestToSend(false);
    port_.clearError();
    receiving_ = true;
    StartLineStatusCounting();
}

void QtSerialPort::Close() {
    receiving_ = false;
    if (!port_.isOpen())
        return;
    port_.close();
    port_.clearError();
}

void QtSerialPort::Write(const char* data, std::size_t length) {
    if (!port_.isOpen())
        throw ELinkError("Serial port \"" + name_ + "\" is not open");
    if (length == 0)
        return;
    const auto waiting = static_cast<std::size_t>(port_.bytesToWrite());
    if (waiting > kMaxSendQueueSize || length > kMaxSendQueueSize - waiting) {
        throw ELinkError("Send queue of serial port \"" + name_ + "\" is full: " +
                         std::to_string(waiting) + " bytes waiting, " + std::to_string(length) +
                         " more do not fit into " + std::to_string(kMaxSendQueueSize));
    }
    const qint64 queued = port_.write(data, static_cast<qint64>(length));
    if (queued != static_cast<qint64>(length)) {
        std::string message =
            "Serial port \"" + name_ + "\" cannot be written: " + ErrorText(port_);
        port_.clearError();
        throw ELinkError(message);
    }
}

void QtSerialPort::OnReadyRead() {
    // A nested loop inside a handler (a message box) must not hand over the next chunk before
    // the handler has returned; the loop below reads it afterwards.
    if (delivering_)
        return;
    delivering_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{delivering_};

    CheckLineStatus();
    char chunk[kMaxChunk];
    while (receiving_ && port_.isOpen()) {
        const qint64 length = port_.read(chunk, sizeof chunk);
        if (length <= 0)
            break;
        if (onData_) {
            Dispatch(app_, [&] { onData_(chunk, static_cast<std::size_t>(length)); });
        }
    }
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
    // The device went away (unplugged, the other end of a pseudo-terminal closed). QSerialPort
    // then reports a read or resource error on every turn of the loop, so reception stops and the
    // port is closed once QSerialPort has finished reporting; nothing spins on a dead device. The
    // transaction is then ended by its timers.
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!receiving_ || !port_.isOpen())
        return;
    receiving_ = false;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!receiving_)
                Close();
        },
        Qt::QueuedConnection);
}

// Qt reports no framing, parity or overrun errors; on Linux the driver counts them, and a
// counter that moved since the last look is one line-status error for the program. Devices
// without counters (pseudo-terminals, some USB adapters) simply report none.
void QtSerialPort::StartLineStatusCounting() {
    countLineErrors_ = false;
#ifdef __linux__
    serial_icounter_struct counters{};
    if (::ioctl(static_cast<int>(port_.handle()), TIOCGICOUNT, &counters) == 0) {
        countLineErrors_ = true;
        lineErrors_ =
            long{counters.frame} + counters.overrun + counters.parity + counters.buf_overrun;
    }
#endif
}

void QtSerialPort::CheckLineStatus() {
#ifdef __linux__
    if (!countLineErrors_ || !port_.isOpen())
        return;
    serial_icounter_struct counters{};
    if (::ioctl(static_cast<int>(port_.handle()), TIOCGICOUNT, &counters) != 0)
        return;
    const long errors =
        long{counters.frame} + counters.overrun + counters.parity + counters.buf_overrun;
    if (errors == lineErrors_)
        return;
    lineErrors_ = errors;
    if (onLineStatus_)
        Dispatch(app_, onLineStatus_);
#endif
}

}  // namespace vendilox::platform::qt
