#include "protocol/card_mask.hpp"

#include <algorithm>
#include <vector>

#include "protocol/frame.hpp"

namespace vendilox {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool EndsNumber(char c) {
    return c == FS || c == ETX || c == STX;
}

// Whether the character at 1-based position `at` of a card number of `length` characters must
// be masked when it is a digit; length 0 stands for a number whose end is not known yet.
bool Hidden(std::size_t at, std::size_t length) {
    if (at > kCardNumberLength)
        return true;
    if (at < 7)
        return false;
    if (length == 0)
        return true;
    const std::size_t held = std::min(length, kCardNumberLength);
    return held >= 4 && at <= held - 4;
}

// One card number found in the pending bytes.
struct TNumber {
    std::size_t begin;    // index of its first pending character
    std::size_t end;      // index after its last pending character
    std::size_t firstAt;  // 1-based position of the character at begin
    bool closed;          // its end is in the pending bytes (or the bytes are complete)
};

// Finds the card numbers of bytes scanned from the given state.
std::vector<TNumber> FindNumbers(std::string_view bytes, bool afterFs, bool inNumber,
                                 std::size_t numberDone, bool complete) {
    std::vector<TNumber> numbers;
    std::size_t begin = 0;
    std::size_t firstAt = numberDone + 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (inNumber) {
            if (EndsNumber(c)) {
                numbers.push_back({begin, i, firstAt, true});
                inNumber = false;
                afterFs = c == FS;
            }
            continue;
        }
        if (afterFs && c == 'P') {
            inNumber = true;
            begin = i + 1;
            firstAt = 1;
            afterFs = false;
            continue;
        }
        afterFs = c == FS;
    }
    if (inNumber)
        numbers.push_back({begin, bytes.size(), firstAt, complete});
    return numbers;
}

// The bytes with the numbers masked; a number that is not closed is masked as one whose end is
// unknown.
std::string Masked(std::string_view bytes, const std::vector<TNumber>& numbers) {
    std::string out(bytes);
    for (const TNumber& n : numbers) {
        const std::size_t length = n.closed ? n.firstAt - 1 + (n.end - n.begin) : 0;
        for (std::size_t i = n.begin; i < n.end; ++i) {
            const std::size_t at = n.firstAt + (i - n.begin);
            if (IsDigit(out[i]) && Hidden(at, length))
                out[i] = '*';
        }
    }
    return out;
}

}  // namespace

std::string MaskCardNumber(std::string_view number) {
    return Masked(number, {TNumber{0, number.size(), 1, true}});
}

std::string MaskCardNumbers(std::string_view bytes) {
    return Masked(bytes, FindNumbers(bytes, false, false, 0, true));
}

void TCardMaskStream::Append(std::string_view bytes) {
    pending_.append(bytes);
}

std::size_t TCardMaskStream::Settled() const {
    const auto numbers = FindNumbers(pending_, afterFs_, inNumber_, numberDone_, false);
    if (!numbers.empty() && !numbers.back().closed)
        return numbers.back().begin;
    return pending_.size();
}

std::string TCardMaskStream::Take(std::size_t count) {
    count = std::min(count, pending_.size());
    const auto numbers = FindNumbers(pending_, afterFs_, inNumber_, numberDone_, false);
    std::string taken = Masked(pending_, numbers).substr(0, count);

    // The scan state after the taken bytes.
    for (std::size_t i = 0; i < count; ++i) {
        const char c = pending_[i];
        if (inNumber_) {
            if (EndsNumber(c)) {
                inNumber_ = false;
                afterFs_ = c == FS;
            } else {
                ++numberDone_;
            }
        } else if (afterFs_ && c == 'P') {
            inNumber_ = true;
            numberDone_ = 0;
            afterFs_ = false;
        } else {
            afterFs_ = c == FS;
        }
    }
    pending_.erase(0, count);
    return taken;
}

}  // namespace vendilox
