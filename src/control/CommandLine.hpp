// The command line of the program and its checks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/application.hpp"
#include "platform/window.hpp"
#include "protocol/request.hpp"

namespace vendilox {

// Splits a Windows command line into its parameters, the program name first: codes 1 to 32
// separate; double quotes group and are dropped; an empty quoted parameter is skipped.
std::vector<std::string> SplitWindowsCommandLine(std::string_view commandLine);

// The parameters of a POSIX process (argv without the program name); an empty argument is
// skipped as an empty quoted parameter is on Windows.
std::vector<std::string> ParamsFromArgv(int argc, const char* const* argv);

// Reads and checks the parameters into request. false: a check failed and was reported (box,
// exit code 1, end requested). Raises EConvertError when parameter 1 is not an integer.
bool ReadCommandLine(const std::vector<std::string>& params, TTransactionRequest& request,
                     platform::IMessageBox& boxes, platform::IApplication& app,
                     platform::IStatusCaption& caption);

}  // namespace vendilox
