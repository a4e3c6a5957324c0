#include "control/Report.hpp"

#include "protocol/cp1250.hpp"

namespace vendilox {

namespace {

// A field as the result file holds it: a line end or other control byte from the terminal
// would add lines, and a '|' in the summary line a column, which the caller would then read as
// other fields. Such bytes become '?'.
std::string ReportField(std::string_view text, bool summary) {
    std::string field(text);
    for (char& c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (summary && c == '|'))
            c = '?';
    }
    return field;
}

}  // namespace

void TOutputFile::Create(const std::string& path) {
    file_.Close();
    path_ = path;
    if (file_.OpenExclusive(path) != platform::files::TFile::TOpenStatus::Opened)
        throw EFCreateError("Cannot create file " + path);
}

void TOutputFile::Write(std::string_view bytes) {
    // The caller must not find half a report: a write that fails is cut off again, so the file
    // holds the reports written before it, whole. No flush to the device: the caller reads the
    // file after this process has ended, and the system serves it from its cache; only a power
    // loss in that moment would lose it.
    if (!file_.Write(bytes))
        throw EWriteError("Cannot write to file " + path_);
}

void CreateOutputFile(platform::IReportMemo& memo3, const std::string& outputPath,
                      TOutputFile& file) {
    memo3.Clear();
    file.Create(outputPath);
    file.Write(memo3.Text());
}

void WriteReport(const TTransactionResult& result, platform::IReportMemo& memo3,
                 TOutputFile& file) {
    memo3.Clear();

    std::string summary;
    for (const std::string* field :
         {&result.ResponseCode, &result.TerminalNumber, &result.BatchNumber, &result.TypeCode,
          &result.CardTypeCode, &result.CardNumber, &result.AuthorizationCode,
          &result.TransactionDate, &result.TransactionTime, &result.AmountDigits,
          &result.HeaderFlag}) {
        summary += ReportField(*field, true);
        summary += '|';
    }
    memo3.AppendLine(summary);
    memo3.AppendLine(std::string(35, '-'));

    auto labelled = [&memo3](std::string_view label, std::string_view text) {
        std::string line(label);
        line += ReportField(text, false);
        memo3.AppendLine(line);
    };
    labelled("Stav po zpracování: "_w1250, result.StatusText);
    labelled("Číslo terminálu POS: "_w1250, result.TerminalNumber);
    labelled("Číslo dávky: "_w1250, result.BatchNumber);
    labelled("Typ transakce: "_w1250, result.TypeName);
    labelled("Typ karty: "_w1250, result.CardName);
    labelled("Číslo karty: "_w1250, result.CardNumber);
    labelled("Autorizační kód: "_w1250, result.AuthorizationCode);
    labelled("Datum transakce: "_w1250, result.TransactionDate);
    labelled("Čas transakce: "_w1250, result.TransactionTime);
    labelled("Částka transakce: "_w1250, result.AmountText + std::string(" Kč"_w1250));

    // The report reaches the file in one write, so it is either there whole or not at all.
    file.Write(memo3.Text());
}

}  // namespace vendilox
