// Card numbers kept out of anything the program stores: of the number in a P field only the
// first six and the last four characters may be read, every other digit is written as '*'.
// Pure functions and state over byte strings; no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vendilox {

// The card number as the response parser holds it: the first 19 characters of a P field.
inline constexpr std::size_t kCardNumberLength = 19;

// A card number (the characters after a P field's tag) with the digits that must not be stored
// written as '*': those from the 7th character up to the 5th-last of the first 19, and every
// digit after the 19th. Since the parser reads only the first 19 characters, the number it
// holds, masked with this same function, never shows a digit that the masked field hides.
// Everything that is not a digit stays as it is.
std::string MaskCardNumber(std::string_view number);

// A whole frame or message with every card number masked. A card number is the value of a
// field whose tag is 'P', that is the bytes after FS 'P' up to the next FS, ETX or STX, or up to
// the end of the bytes. Every other byte stays as it is.
std::string MaskCardNumbers(std::string_view bytes);

// The same masking over a stream of chunks whose borders may cut a card number anywhere. The
// last four characters of a number are known only once the number has ended, so bytes are
// released only when no open number reaches into them.
class TCardMaskStream {
  public:
    // Adds received bytes at the end of the stream.
    void Append(std::string_view bytes);
    // How many of the bytes not yet taken are final: all of them, unless a card number is still
    // open, in which case those before its first character.
    std::size_t Settled() const;
    // Bytes not yet taken.
    std::size_t Pending() const { return pending_.size(); }
    // Removes the first count bytes (at most Pending()) and returns them masked. Bytes of a
    // number that is still open are masked from its 7th character on, since none of them can
    // yet be known not to belong to the middle of the number.
    std::string Take(std::size_t count);

  private:
    std::string pending_;
    // The scan state at the first pending byte.
    bool afterFs_ = false;  // the byte before it was FS: a 'P' opens a card number
    bool inNumber_ = false;
    std::size_t numberDone_ = 0;  // characters of the open number already taken
};

}  // namespace vendilox
