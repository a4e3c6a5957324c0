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
    // A confirmation that shares its chunk with what follows it is handled first; the bytes
    // after its ETX are then taken as if they had arrived as the next chunk.
    std::string current;
    std::string next;
    while (TakeChunk(chunk, next)) {
        host_.LogLine(ReceivedLine(next));
        // The next round writes into next while it reads the chunk, so they must not share.
        current.swap(next);
        chunk = current;
    }
}

bool TReceiveReassembly::TakeChunk(std::string_view chunk, std::string& next) {
    if (chunk.empty())
        return false;

    if (chunk.front() == STX) {
        // A chunk that opens with STX is judged by itself, whatever the buffer holds.
        const auto etx = chunk.find(ETX);
        if (etx == std::string_view::npos) {
            if (chunk.size() > kMaxBuffer) {
                // The frame start alone is longer than any frame; nothing of it is kept.
                DiscardUnfinished();
                return false;
            }
            partialFrame_ = true;
            receiveBuffer_.assign(chunk);
            return false;
        }
        const std::string_view frame = chunk.substr(0, etx + 1);
        const std::string_view rest = chunk.substr(etx + 1);
        if (Contains(frame, FS)) {
            const std::string message(frame);
            if (rest.size() > kMaxBuffer) {
                DiscardUnfinished();
            } else if (!rest.empty()) {
                receiveBuffer_.assign(rest);
            }
            if (host_.HandleFinalResponse(message) == 0) {
                host_.LogLine(ReceivedLine(rest));
                host_.LogLine("Konec transakce");
            }
            return false;
        }
        // A header-only frame is a confirmation, whatever follows it in the chunk.
        next.assign(rest);
        host_.LogLine(ReceivedLine(frame));
        host_.LogLine("Activity confirmation");
        host_.HandleActivityConfirmation();
        return !next.empty();
    }

    if (receiveBuffer_.size() + chunk.size() > kMaxBuffer) {
        // Bytes that never finish a frame are not held without bound: what is buffered goes,
        // and the chunk is then judged as if it had come first after a request.
        DiscardUnfinished();
        if (chunk.size() > kMaxBuffer)
            return false;
    }

    const bool hasEtx = Contains(chunk, ETX);
    if (!hasEtx && partialFrame_) {
        receiveBuffer_.append(chunk);
        return false;
    }

    partialFrame_ = false;
    receiveBuffer_.append(chunk);

    // A frame starts at the last STX in front of the first ETX: what lies before it (stray
    // bytes, or the start of a frame that never ended) would shift every position of the
    // message, so it goes, and the frame is then taken as a frame start is.
    const auto firstEtx = receiveBuffer_.find(ETX);
    const auto stx = firstEtx == std::string::npos ? receiveBuffer_.rfind(STX)
                     : firstEtx == 0               ? std::string::npos
                                                   : receiveBuffer_.rfind(STX, firstEtx - 1);
    if (stx != std::string::npos && stx > 0) {
        host_.LogLine(std::string("Zahozená data před začátkem zprávy: "_w1250) +
                      receiveBuffer_.substr(0, stx));
        receiveBuffer_.erase(0, stx);
        if (firstEtx == std::string::npos) {
            // Only the start of a frame is left; the rest of it is still to come.
            partialFrame_ = true;
            return false;
        }
    }

    const auto etx = receiveBuffer_.find(ETX);
    if (etx != std::string::npos) {
        if (receiveBuffer_.find(FS) < etx) {
            const std::string message = receiveBuffer_.substr(0, etx + 1);
            receiveBuffer_.erase(0, etx + 1);
            partialFrame_ = !receiveBuffer_.empty();
            if (host_.HandleFinalResponse(message) == 0) {
                host_.LogLine(ReceivedLine(receiveBuffer_));
                host_.LogLine("Konec transakce");
            }
            return false;
        }
        // A confirmation assembled in the buffer: once handled it leaves the buffer, and what
        // followed its ETX is taken as the next chunk.
        const std::string frame = receiveBuffer_.substr(0, etx + 1);
        next = receiveBuffer_.substr(etx + 1);
        receiveBuffer_.clear();
        host_.LogLine(ReceivedLine(next.empty() ? chunk : std::string_view(frame)));
        host_.LogLine("Activity confirmation");
        host_.HandleActivityConfirmation();
        return !next.empty();
    }

    if (Contains(receiveBuffer_, FS)) {
        // Fields without a frame around them: handed over as an empty message, which the flow
        // reports as a message it does not know.
        partialFrame_ = true;
        if (host_.HandleFinalResponse(std::string()) == 0) {
            host_.LogLine(ReceivedLine(receiveBuffer_));
            host_.LogLine("Konec transakce");
        }
        return false;
    }

    host_.LogLine(ReceivedLine(chunk));
    host_.LogLine("Activity confirmation");
    host_.HandleActivityConfirmation();
    return false;
}

}  // namespace vendilox
