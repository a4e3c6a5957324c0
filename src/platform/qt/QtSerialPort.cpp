#include "platform/qt/QtSerialPort.hpp"

#include <QMetaObject>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#include "platform/platform.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::platform::qt {

namespace {

// The port name as the system is to open it. QSerialPort puts "/dev/" before a name that is not
// a path; the name from the settings goes to the system unchanged instead, so a relative name
// stays relative to the working directory and "COM1" is simply a file that does not exist.
QString SystemPortName(const std::string& name) {
    QString system = QString::fromUtf8(Cp1250ToUtf8(name));
#ifndef _WIN32
    if (!system.startsWith(QLatin1Char('/')) && !system.startsWith(QLatin1String("./")) &&
        !system.startsWith(QLatin1String("../"))) {
        system.prepend(QLatin1String("./"));
    }
#endif
    return system;
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

}  // namespace

QtSerialPort::QtSerialPort(IApplication& app) : app_(app) {
    QObject::connect(&port_, &QSerialPort::readyRead, [this] { OnReadyRead(); });
    QObject::connect(&port_, &QSerialPort::errorOccurred,
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialPort::~QtSerialPort() {
    if (port_.isOpen())
        port_.close();
}

void QtSerialPort::Open() {
    if (port_.isOpen())
        return;
    port_.setPortName(SystemPortName(name_));
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // QSerialPort takes the device exclusively (TIOCEXCL and a lock file).
    if (!port_.open(QIODevice::ReadWrite)) {
        const std::string reason = Utf8ToCp1250(port_.errorString().toStdString());
        port_.clearError();
        if (port_.isOpen())
            port_.close();
        throw ELinkError("cannot open serial port " + Quoted(name_) + ": " + reason);
    }
    // A device without modem lines (a pseudo-terminal) refuses these; that is no reason to
    // refuse the port.
    port_.setDataTerminalReady(false);
    port_.setRequestToSend(false);
    port_.clearError();
    lineErrors_ = LineErrorCount();
}

void QtSerialPort::Close() {
    if (!port_.isOpen())
        return;
    // What was queued goes out as far as the device takes it without waiting.
    port_.flush();
    port_.close();
    port_.clearError();
    lineErrors_ = -1;
}

void QtSerialPort::Write(const char* data, std::size_t length) {
    if (!port_.isOpen()) {
        throw ELinkError("cannot write to serial port " + Quoted(name_) + ": the port is not open");
    }
    if (length == 0)
        return;
    const auto waiting = static_cast<std::size_t>(port_.bytesToWrite());
    if (length > kMaxSendQueueSize || waiting > kMaxSendQueueSize - length) {
        throw ELinkError("cannot write to serial port " + Quoted(name_) + ": " +
                         std::to_string(length) + " bytes do not fit into the send queue (" +
                         std::to_string(waiting) + " of " + std::to_string(kMaxSendQueueSize) +
                         " bytes waiting)");
    }
    const qint64 queued = port_.write(data, static_cast<qint64>(length));
    if (queued != static_cast<qint64>(length)) {
        const std::string reason = Utf8ToCp1250(port_.errorString().toStdString());
        port_.clearError();
        throw ELinkError("cannot write to serial port " + Quoted(name_) + ": " + reason);
    }
}

void QtSerialPort::OnReadyRead() {
    // A handler's modal box runs a loop of its own; the bytes that arrive meanwhile wait in the
    // port's buffer and are delivered by the outer call, after the chunk before them.
    if (delivering_)
        return;
    delivering_ = true;
    struct TDeliveringScope {
        bool& flag;
        ~TDeliveringScope() { flag = false; }
    } scope{delivering_};

    if (lineErrors_ >= 0) {
        const long long count = LineErrorCount();
        if (count > lineErrors_) {
            lineErrors_ = count;
            if (auto handler = onLineStatus_)
                Dispatch(app_, handler);
        }
    }
    char chunk[kMaxChunk];
    while (port_.isOpen() && port_.bytesAvailable() > 0) {
        const qint64 n = port_.read(chunk, static_cast<qint64>(sizeof chunk));
        if (n <= 0)
            break;
        if (auto handler = onData_) {
            Dispatch(app_, [&] { handler(chunk, static_cast<std::size_t>(n)); });
        }
    }
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
    // The device went away (an adapter pulled out, the other side of a pseudo-terminal closed):
    // the port reads end of file or fails at every turn, so reception stops and the port is
    // closed. The transaction is then ended by its timers. Closed from the loop, not from inside
    // QSerialPort's own notification.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    QMetaObject::invokeMethod(
        &port_,
        [this] {
            if (port_.isOpen())
                port_.close();
            port_.clearError();
            lineErrors_ = -1;
        },
        Qt::QueuedConnection);
}

long long QtSerialPort::LineErrorCount() const {
#ifdef __linux__
    serial_icounter_struct counters{};
    if (!port_.isOpen() || ::ioctl(static_cast<int>(port_.handle()), TIOCGICOUNT, &counters) != 0) {
        return -1;
    }
    return static_cast<long long>(counters.frame) + counters.parity + counters.overrun +
           counters.buf_overrun;
#else
    return -1;
#endif
}

}  // namespace vendilox::platform::qt
