#include "platform/fake/fake_links.hpp"

#include <algorithm>
#include <stdexcept>

namespace vendilox::platform::fake {

void FakeSerialPort::Open() {
    ++OpenCalls;
    if (open_)
        return;
    if (OpenError)
        throw ELinkError(*OpenError);
    open_ = true;
    queued_ = 0;
    queuedAt_ = loop_.Now();
}

void FakeSerialPort::Close() {
    ++CloseCalls;
    if (!open_)
        return;
    open_ = false;
    queued_ = 0;
    if (CloseError)
        throw ELinkError(*CloseError);
}

std::size_t FakeSerialPort::QueuedBytes() const {
    const std::uint64_t now = loop_.Now();
    const std::uint64_t drained = (now - queuedAt_) * kBytesPerSecond / 1000;
    if (drained > 0) {
        queued_ = drained >= queued_ ? 0 : queued_ - static_cast<std::size_t>(drained);
        queuedAt_ = now;
    }
    return queued_;
}

void FakeSerialPort::Write(const char* data, std::size_t length) {
    if (OnWrite)
        OnWrite(std::string_view(data, length));
    if (!open_) {
        ++RefusedWrites;
        throw ELinkError("Write: the port " + name_ + " is not open");
    }
    if (WriteError) {
        ++RefusedWrites;
        throw ELinkError(*WriteError);
    }
    if (QueuedBytes() + length > kMaxSendQueueSize) {
        ++RefusedWrites;
        throw ELinkError("Write: the send queue of " + name_ + " is full");
    }
    if (queued_ == 0)
        queuedAt_ = loop_.Now();
    queued_ += length;
    Writes.push_back({loop_.Now(), std::string(data, length)});
}

void FakeSerialPort::InjectData(std::uint64_t at, std::string chunk) {
    if (chunk.empty() || chunk.size() > 512) {
        throw std::invalid_argument("the serial component delivers chunks of 1 to 512 bytes");
    }
    loop_.Post(at, [this, chunk = std::move(chunk)] {
        if (open_ && onData_)
            onData_(chunk.data(), chunk.size());
    });
}

void FakeSerialPort::InjectLineStatusError(std::uint64_t at) {
    loop_.Post(at, [this] {
        if (open_ && onLineStatus_)
            onLineStatus_();
    });
}

void FakeClientSocket::SetActive(bool active) {
    if (active == active_)
        return;
    active_ = active;
    ++generation_;
    if (!active) {
        connected_ = false;
        pending_.clear();
        return;
    }
    ++Activations;
    const std::uint64_t generation = generation_;
    const TOutcome outcome = Outcome;
    if (outcome.Kind == TOutcome::TKind::Never) {
        loop_.Post(loop_.Now() + kConnectTimeoutMs, [this, generation] {
            if (generation == generation_)
                ReportError(TErrorEvent::Connect, 10060);  // timed out
        });
        return;
    }
    loop_.Post(loop_.Now() + outcome.AfterMs, [this, generation, outcome] {
        if (generation != generation_)
            return;
        if (outcome.Kind == TOutcome::TKind::Connect) {
            connected_ = true;
            if (onConnect_)
                onConnect_();
        } else {
            ReportError(TErrorEvent::Connect, outcome.ErrorCode);
        }
    });
}

int FakeClientSocket::ReceiveBuf(char* buffer, int count) {
    if (count <= 0 || pending_.empty())
        return 0;
    const std::size_t n = std::min(pending_.size(), static_cast<std::size_t>(count));
    std::copy_n(pending_.data(), n, buffer);
    pending_.erase(0, n);
    return static_cast<int>(n);
}

int FakeClientSocket::SendBuf(const char* buffer, int count) {
    const bool broken = failSendsFrom_ && loop_.Now() >= *failSendsFrom_;
    if (!connected_ || broken) {
        const std::uint64_t generation = generation_;
        const int code = connected_ ? failSendCode_ : 10057;
        connected_ = false;
        pending_.clear();
        loop_.Post(loop_.Now(), [this, generation, code] {
            if (generation == generation_ && active_)
                ReportError(TErrorEvent::Send, code);
        });
        return -1;
    }
    Sent.push_back(
        {loop_.Now(), std::string(buffer, static_cast<std::size_t>(std::max(count, 0)))});
    return count;
}

void FakeClientSocket::InjectRead(std::uint64_t at, std::string bytes) {
    loop_.Post(at, [this, bytes = std::move(bytes)] {
        if (!connected_)
            return;
        pending_ += bytes;
        if (onRead_)
            onRead_();
    });
}

void FakeClientSocket::InjectError(std::uint64_t at, TErrorEvent event, int errorCode) {
    loop_.Post(at, [this, event, errorCode] {
        if (!connected_)
            return;
        connected_ = false;
        pending_.clear();
        ReportError(event, errorCode);
    });
}

void FakeClientSocket::InjectPeerClose(std::uint64_t at) {
    loop_.Post(at, [this] {
        connected_ = false;
        pending_.clear();
    });
}

void FakeClientSocket::ReportError(TErrorEvent event, int code) {
    int errorCode = code;
    if (onError_)
        onError_(event, errorCode);
    Errors.push_back({loop_.Now(), event, code, errorCode});
}

}  // namespace vendilox::platform::fake
