// The file layer against real files in a fresh directory, with nothing but the standard library
// around it, so that the same cases run on every system the program is built for.
#include "platform/files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vendilox::platform::files {
namespace {

namespace fs = std::filesystem;

// A directory of its own for each test, removed with everything in it afterwards. Its name is
// ASCII, so a path in it is the same text in Windows-1250 and on the file system.
class FilesTest : public testing::Test {
  protected:
    FilesTest() {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("vendilox_files_" + std::to_string(random()));
        fs::create_directory(dir_);
    }
    ~FilesTest() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void Put(const std::string& name, const std::string& bytes) const {
        std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }

    std::string Get(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

// The bytes a text-mode file would change: CR LF and a lone LF, the old end-of-file mark 0x1A,
// NUL, and bytes above 0x7F.
const std::string kBinary = std::string(
                                "a\r\nb\nc\x1A"
                                "d") +
                            '\0' + "\xE8\xFF\r";

struct TReadCase {
    const char* Name;
    const char* Setup;  // "file", "dir" or "none"
    std::string Bytes;
    std::size_t MaxBytes;
    const char* Target;  // the name read
    TReadStatus Status;
};

class FilesReadTest : public FilesTest, public testing::WithParamInterface<TReadCase> {};

TEST_P(FilesReadTest, GivesTheWholeFileOrSaysWhyNot) {
    const TReadCase& c = GetParam();
    if (std::string(c.Setup) == "file")
        Put("f", c.Bytes);
    if (std::string(c.Setup) == "dir")
        fs::create_directory(dir_ / "f");

    std::string content = "stale";
    EXPECT_EQ(ReadWholeFile(Path(c.Target), c.MaxBytes, content), c.Status);
    EXPECT_EQ(content, c.Status == TReadStatus::Ok ? c.Bytes : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilesReadTest,
    testing::Values(TReadCase{"BinaryBytesAsTheyAre", "file", kBinary, 100, "f", TReadStatus::Ok},
                    TReadCase{"EmptyFile", "file", "", 100, "f", TReadStatus::Ok},
                    TReadCase{"ExactlyTheLimit", "file", std::string(5000, 'x'), 5000, "f",
                              TReadStatus::Ok},
                    TReadCase{"OneByteOverTheLimit", "file", std::string(5001, 'x'), 5000, "f",
                              TReadStatus::TooLarge},
                    TReadCase{"MissingFile", "none", "", 100, "f", TReadStatus::NotFound},
                    TReadCase{"MissingDirectory", "none", "", 100, "no/f", TReadStatus::NotFound},
                    TReadCase{"DirectoryIsNoFile", "dir", "", 100, "f", TReadStatus::Failed}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FilesTest, ReplaceOverwritesAnExistingFileWithTheExactBytes) {
    Put("a.ini", "old content, longer than the new one\r\n");
    ASSERT_TRUE(ReplaceWholeFile(Path("a.ini"), kBinary));
    EXPECT_EQ(Get("a.ini"), kBinary);
    EXPECT_EQ(Entries(), std::vector<std::string>{"a.ini"}) << "a temporary file was left";

    ASSERT_TRUE(ReplaceWholeFile(Path("new.ini"), "x"));
    EXPECT_EQ(Get("new.ini"), "x");
}

TEST_F(FilesTest, FailedReplaceLeavesEverythingAsItWas) {
    EXPECT_FALSE(ReplaceWholeFile(Path("missing/a.ini"), "x"));
    fs::create_directory(dir_ / "adir");
    EXPECT_FALSE(ReplaceWholeFile(Path("adir"), "x"));
    EXPECT_TRUE(fs::is_directory(dir_ / "adir"));
    EXPECT_EQ(Entries(), std::vector<std::string>{"adir"});
}

TEST_F(FilesTest, InspectTellsTheKindAndTheSizeOfAFile) {
    Put("f", std::string(1234, 'x'));
    fs::create_directory(dir_ / "d");

    const TPathInfo file = Inspect(Path("f"));
    EXPECT_EQ(file.Kind, TPathKind::RegularFile);
    EXPECT_EQ(file.Size, 1234u);
    EXPECT_EQ(Inspect(Path("d")).Kind, TPathKind::Directory);
    EXPECT_EQ(Inspect(Path("none")).Kind, TPathKind::Missing);
    EXPECT_EQ(Inspect(Path("none/f")).Kind, TPathKind::Missing);
}

TEST_F(FilesTest, ListDirectoryGivesTheNamesInWindows1250) {
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(ListDirectory(dir_.string(), names));
    EXPECT_TRUE(names.empty());

    Put("a.txt", "");
    // "nastavení" on the file system; the layer hands it back in Windows-1250.
    std::ofstream(dir_ / fs::path(u8"nastaven\u00ED"));
    fs::create_directory(dir_ / "sub");
    ASSERT_TRUE(ListDirectory(dir_.string(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "nastaven\xED", "sub"}));

    EXPECT_FALSE(ListDirectory(Path("none"), names));
    EXPECT_TRUE(names.empty());
}

TEST_F(FilesTest, RemoveFileIsDoneAlsoWhenThereWasNothing) {
    Put("f", "x");
    EXPECT_TRUE(RemoveFile(Path("f")));
    EXPECT_FALSE(fs::exists(dir_ / "f"));
    EXPECT_TRUE(RemoveFile(Path("f")));
    fs::create_directory(dir_ / "d");
    EXPECT_FALSE(RemoveFile(Path("d")));
    EXPECT_TRUE(fs::is_directory(dir_ / "d"));
}

TEST_F(FilesTest, AppendKeepsWhatIsThereAndAddsAtTheEnd) {
    Put("journal", "first\n");
    TFile file;
    ASSERT_EQ(file.OpenForAppend(Path("journal")), TFile::TOpenStatus::Opened);
    EXPECT_TRUE(file.Write("second\n"));
    EXPECT_TRUE(file.Flush());
    EXPECT_TRUE(file.Write(kBinary));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(Get("journal"), "first\nsecond\n" + kBinary);

    ASSERT_EQ(file.OpenForAppend(Path("new")), TFile::TOpenStatus::Opened);
    EXPECT_TRUE(file.Write("x"));
    file.Close();
    EXPECT_EQ(Get("new"), "x");
}

TEST_F(FilesTest, ExclusiveFileIsRefusedWhileHeldAndEmptiedOnceTaken) {
    Put("result", "report of the last run");
    TFile holder;
    ASSERT_EQ(holder.OpenExclusive(Path("result")), TFile::TOpenStatus::Opened);
    EXPECT_TRUE(holder.Write("new"));

    TFile second;
    EXPECT_EQ(second.OpenExclusive(Path("result")), TFile::TOpenStatus::InUse);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_FALSE(second.Write("x"));

    // The file is read only once it is free: on Windows nobody may read it while it is held.
    TFile moved = std::move(holder);
    EXPECT_FALSE(holder.IsOpen());
    moved.Close();
    EXPECT_EQ(Get("result"), "new");
    EXPECT_EQ(second.OpenExclusive(Path("result")), TFile::TOpenStatus::Opened);
    second.Close();
    EXPECT_EQ(Get("result"), "");

    EXPECT_EQ(TFile().OpenExclusive(Path("none/result")), TFile::TOpenStatus::Failed);
}

TEST_F(FilesTest, HolderReadsItsFileBackAndWritesOnAtTheEnd) {
    TFile holder;
    ASSERT_EQ(holder.OpenExclusive(Path("result")), TFile::TOpenStatus::Opened);
    std::string content = "stale";
    EXPECT_TRUE(holder.ReadBack(content));
    EXPECT_EQ(content, "");

    // More than one read's buffer, so that the offsets of the reads after the first count.
    const std::string first = kBinary + std::string(5000, 'x');
    ASSERT_TRUE(holder.Write(first));
    EXPECT_TRUE(holder.ReadBack(content));
    EXPECT_EQ(content, first);
    ASSERT_TRUE(holder.Write("end"));
    EXPECT_TRUE(holder.ReadBack(content));
    EXPECT_EQ(content, first + "end");

    holder.Close();
    EXPECT_FALSE(holder.ReadBack(content));
    EXPECT_EQ(Get("result"), first + "end");
}

}  // namespace
}  // namespace vendilox::platform::files
