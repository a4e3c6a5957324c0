#include "control/CommandLine.hpp"

#include "protocol/cp1250.hpp"
#include "protocol/text.hpp"

namespace vendilox {

namespace {

constexpr std::size_t kMaxAmountLength = 18;
constexpr std::size_t kAuthCodeLength = 8;
constexpr std::size_t kMaxInvoiceLength = 16;

// Codes 1 to 32 separate parameters; code 0 ends the command line as it ends a C string.
bool IsSeparator(char c) {
    auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

// The operation title shown in the status caption; empty for a type the checks refuse.
std::string_view OperationTitle(std::int32_t transactionType) {
    switch (transactionType) {
        case 0:
            return "Nákup na terminálu"_w1250;
        case 4:
            return "Storno platby"_w1250;
        case 10:
            return "Návrat transakce"_w1250;
        case 60:
            return "Uzávěrka terminálu"_w1250;
        default:
            return {};
    }
}

// A control byte in a parameter that goes into the request would change the frame's fields: an
// FS starts another field, an ETX ends the frame.
bool HasControlByte(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
}

// Reports a failed check: the box, modal to the whole task, then exit code 1 and the end of the
// program once the user has closed it.
bool Refuse(std::string_view message, platform::IMessageBox& boxes, platform::IApplication& app) {
    boxes.Show("Chybné údaje"_w1250, message, platform::TBoxIcon::Information,
               platform::TBoxOwner::TaskModal);
    app.SetExitCode(1);
    app.Terminate();
    return false;
}

}  // namespace

std::vector<std::string> SplitWindowsCommandLine(std::string_view commandLine) {
    commandLine = commandLine.substr(0, commandLine.find('\0'));
    std::vector<std::string> params;
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    for (;;) {
        // Separators and empty quoted parameters before the next parameter are skipped.
        for (;;) {
            while (i < n && IsSeparator(commandLine[i]))
                ++i;
            if (i + 1 < n && commandLine[i] == '"' && commandLine[i + 1] == '"') {
                i += 2;
                continue;
            }
            break;
        }
        if (i == n)
            break;
        std::string param;
        while (i < n && !IsSeparator(commandLine[i])) {
            if (commandLine[i] == '"') {
                // A quoted stretch runs to the next quote, or to the end of the command line.
                ++i;
                while (i < n && commandLine[i] != '"')
                    param.push_back(commandLine[i++]);
                if (i < n)
                    ++i;
            } else {
                param.push_back(commandLine[i++]);
            }
        }
        // Only a lone quote at the very end gives an empty parameter; it ends the list.
        if (param.empty())
            break;
        params.push_back(std::move(param));
    }
    return params;
}

std::vector<std::string> ParamsFromArgv(int argc, const char* const* argv) {
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && argv[i][0] != '\0')
            params.emplace_back(argv[i]);
    }
    return params;
}

bool ReadCommandLine(const std::vector<std::string>& params, TTransactionRequest& request,
                     platform::IMessageBox& boxes, platform::IApplication& app,
                     platform::IStatusCaption& caption) {
    if (params.size() < 3)
        return Refuse("Špatný počet parametrů!"_w1250, boxes, app);

    request.TerminalId = std::string(8, ' ');
    request.TransactionType = StrToInt(params[0]);
    request.Amount = params[1];
    request.AuthCode = params[2];
    // The invoice number counts only when it is the last of exactly four parameters.
    request.InvoiceNumber = params.size() == 4 ? params[3] : std::string();

    std::string_view title = OperationTitle(request.TransactionType);
    if (title.empty()) {
        return Refuse("Špatný typ transakce.Povolené hodnoty jsou 0,4,10,60."_w1250, boxes, app);
    }
    if (request.Amount.size() > kMaxAmountLength) {
        return Refuse("Maximální délka částky je 18 znaků!"_w1250, boxes, app);
    }
    if (request.AuthCode.size() != kAuthCodeLength) {
        return Refuse("Délka autorizačního kódu musí být 8 znaků!"_w1250, boxes, app);
    }
    if (request.InvoiceNumber.size() > kMaxInvoiceLength) {
        return Refuse("Číslo faktury musí být dlouhé max. 16 znaků!"_w1250, boxes, app);
    }
    if (HasControlByte(request.Amount) || HasControlByte(request.AuthCode) ||
        HasControlByte(request.InvoiceNumber)) {
        return Refuse("Parametry obsahují nepovolené znaky!"_w1250, boxes, app);
    }

    caption.SetCaption(title);
    return true;
}

}  // namespace vendilox
