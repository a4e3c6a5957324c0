#include "reassembly.hpp"

#include "cp1250.hpp"
#include "frame.hpp"

namespace vendilox {

namespace {

constexpr std::string_view kReceivedPrefix = "Přijmutá data: "_w1250;

bool Contains(std::string_view text, char byte) {
    return text.find(byte) != std::string_view::npos;
}

std::string ReceivedLine(std::string_view bytes) {
    std::string line;
    line.reserve(kReceivedPrefix.size() + bytes.size());
    line.append(kReceivedPrefix);
    line.append(bytes);
    return line;
}

}  // namespace

void TReceiveReassembly::DiscardUnfinished() {
    receiveBuffer_.clear();
    receiveBuffer_.shrink_to_fit();
    partialFrame_ = false;
    host_.LogLine(std::string("Nedokončená data zahozena (více než "_w1250) +
                  std::to_string(kMaxBuffer) + std::string(" bajtů)"_w1250));
}

void TReceiveReassembly::HandleReceivedData(std::string_view chunk) {
    host_.LogLine(ReceivedLine(chunk));
    if (chunk.empty())
        return;

    if (chunk.front() == STX) {
        // A chunk that opens with STX is judged by itself, whatever the buffer holds.
        const auto etx = chunk.find(ETX);
        if (etx == std::string_view::npos) {
            if (chunk.size() > kMaxBuffer) {
                // The frame start alone is longer than any frame; nothing of it is kept.
                DiscardUnfinished();
                return;
            }
            partialFrame_ = true;
            receiveBuffer_.assign(chunk);
            return;
        }
        if (Contains(chunk, FS)) {
            const std::string message(chunk.substr(0, etx + 1));
            const std::string_view rest = chunk.substr(etx + 1);
            if (rest.size() > kMaxBuffer) {
                DiscardUnfinished();
            } else if (!rest.empty()) {
                receiveBuffer_.assign(rest);
            }
            if (host_.HandleFinalResponse(message) == 0) {
                host_.LogLine(ReceivedLine(rest));
                host_.LogLine("Konec transakce");
            }
            return;
        }
        host_.LogLine(ReceivedLine(chunk));
        host_.LogLine("Activity confirmation");
        host_.HandleActivityConfirmation();
        return;
    }

    if (receiveBuffer_.size() + chunk.size() > kMaxBuffer) {
        // Bytes that never finish a frame are not held without bound: what is buffered goes,
        // and the chunk is then judged as if it had come first after a request.
        DiscardUnfinished();
        if (chunk.size() > kMaxBuffer)
            return;
    }

    const bool hasEtx = Contains(chunk, ETX);
    if (!hasEtx && partialFrame_) {
        receiveBuffer_.append(chunk);
        return;
    }

    partialFrame_ = false;
    receiveBuffer_.append(chunk);
    if (Contains(receiveBuffer_, FS)) {
        std::string message;
        const auto etx = receiveBuffer_.find(ETX);
        if (etx != std::string::npos) {
            message = receiveBuffer_.substr(0, etx + 1);
            receiveBuffer_.erase(0, etx + 1);
        }
        if (!receiveBuffer_.empty())
            partialFrame_ = true;
        if (host_.HandleFinalResponse(message) == 0) {
            host_.LogLine(ReceivedLine(receiveBuffer_));
            host_.LogLine("Konec transakce");
        }
        return;
    }

    host_.LogLine(ReceivedLine(chunk));
    host_.LogLine("Activity confirmation");
    host_.HandleActivityConfirmation();
}

}  // namespace vendilox
