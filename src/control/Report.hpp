// The result file and the report written into it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/files.hpp"
#include "platform/window.hpp"
#include "protocol/response.hpp"

namespace vendilox {

// The result file cannot be created: "Cannot create file <path>".
class EFCreateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Writing the report failed; the message names the file.
class EWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The result file, created empty at start-up and held open, exclusively, until the process ends.
class TOutputFile {
  public:
    TOutputFile() = default;
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Creates or truncates the file at path (Windows-1250) and keeps it open, shared with no
    // other process; raises EFCreateError, also when another process holds it (its file is then
    // left as it was).
    void Create(const std::string& path);
    // Writes every byte at the current position; raises EWriteError when not all were written,
    // having cut the file back to where the write began.
    void Write(std::string_view bytes);
    bool IsOpen() const { return file_.IsOpen(); }
    // What the file holds now, read through the held handle (see TFile::ReadBack).
    bool ReadBack(std::string& content) const { return file_.ReadBack(content); }
    const std::string& Path() const { return path_; }

  private:
    platform::files::TFile file_;
    std::string path_;
};

// Empties the report memo and creates the empty result file.
void CreateOutputFile(platform::IReportMemo& memo3, const std::string& outputPath,
                      TOutputFile& file);

// Renders the record into the report memo and writes the memo's whole text to the file. The
// report is always 12 lines with 11 summary columns: control bytes in any field, and '|' in the
// summary line, are written as '?'.
void WriteReport(const TTransactionResult& result, platform::IReportMemo& memo3, TOutputFile& file);

}  // namespace vendilox
