// What the protocol functions ask of the program around them. They do no I/O of their own: the
// log and the user's message box are reached through this interface.
#pragma once

#include <string_view>

namespace vendilox {

class IProtocolHost {
  public:
    // Appends one line to the communication log.
    virtual void LogLine(std::string_view line) = 0;
    // Shows an input-error message box (information icon, OK, no owner, modal to the whole
    // task) and returns when the user has closed it.
    virtual void ShowInputError(std::string_view caption, std::string_view text) = 0;

  protected:
    ~IProtocolHost() = default;
};

}  // namespace vendilox
