#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/linux/factories.h"
#include "platform/text.h"
#include "tests/platform/temp_dir.h"

namespace platform {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

// The error number a call raises, or kErrNone when it raises nothing.
int32_t ErrorOf(const std::function<void()>& call, std::wstring* description = nullptr) {
  try {
    call();
  } catch (const Error& e) {
    if (description != nullptr) *description = e.description();
    return e.number();
  }
  return kErrNone;
}

class PosixFileSystemTest : public ::testing::Test {
 protected:
  Ref<TextStream> Open(const std::string& path, IOMode mode, bool create) {
    return fs_->OpenTextFile(Utf8ToWide(path), mode, create, kTextFormatAscii);
  }

  TempDir dir_;
  Ref<FileSystem> fs_ = linux_impl::NewPosixFileSystem();
};

TEST_F(PosixFileSystemTest, ReadsTheWholeFileAsWideText) {
  const std::string path = dir_.File("Marlgate_Travels.xml");
  WriteBytes(path, "<view>\r\n  Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\n</view>");
  auto stream = Open(path, IOMode::kForReading, false);
  EXPECT_EQ(stream->ReadAll(), L"<view>\r\n  Gr\u00FC\u00DFe \u20AC\r\n</view>");
  EXPECT_EQ(stream->ReadAll(), L"");  // at the end already
}

TEST_F(PosixFileSystemTest, ReadsAFileOfAnyLength) {
  const std::string path = dir_.File("big.txt");
  const std::string content(300000, 'x');
  WriteBytes(path, content);
  EXPECT_EQ(Open(path, IOMode::kForReading, false)->ReadAll(), std::wstring(content.size(), L'x'));
  WriteBytes(path, "");
  EXPECT_EQ(Open(path, IOMode::kForReading, false)->ReadAll(), L"");
}

TEST_F(PosixFileSystemTest, AppendingWritesCrLfLinesAsUtf8AtOnce) {
  const std::string path = dir_.File("errors.txt");
  WriteBytes(path, "earlier\r\n");
  auto stream = Open(path, IOMode::kForAppending, true);
  stream->WriteBlankLines(2);
  EXPECT_EQ(ReadBytes(path), "earlier\r\n\r\n\r\n");  // no buffering in between
  stream->WriteLine(std::wstring(80, L'-'));
  stream->WriteLine(L"[9:05 PM] Error #5 occurred in Gr\u00FC\u00DFe: \U0001F5FA");
  stream->WriteLine(L"");
  stream->WriteBlankLines(0);
  EXPECT_EQ(ReadBytes(path), "earlier\r\n\r\n\r\n" + std::string(80, '-') +
                                 "\r\n[9:05 PM] Error #5 occurred in Gr\xC3\xBC\xC3\x9F"
                                 "e: \xF0\x9F\x97\xBA\r\n\r\n");
}

TEST_F(PosixFileSystemTest, AppendingCreatesAMissingFileOnlyWhenAsked) {
  const std::string path = dir_.File("new.txt");
  EXPECT_EQ(ErrorOf([&] { Open(path, IOMode::kForAppending, false); }), kErrFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(path));
  Open(path, IOMode::kForAppending, true)->WriteLine(L"one");
  Open(path, IOMode::kForAppending, false)->WriteLine(L"two");
  EXPECT_EQ(ReadBytes(path), "one\r\ntwo\r\n");
}

TEST_F(PosixFileSystemTest, TwoStreamsOnOneFileBothAppend) {
  const std::string path = dir_.File("errors.txt");
  auto first = Open(path, IOMode::kForAppending, true);
  auto second = Open(path, IOMode::kForAppending, true);
  first->WriteLine(L"a");
  second->WriteLine(L"b");
  first->WriteLine(L"c");
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\nc\r\n");
}

TEST_F(PosixFileSystemTest, OpeningFailuresRaiseTheirNumbers) {
  std::filesystem::create_directory(dir_.path() / "folder");
  WriteBytes(dir_.File("plain"), "x");
  struct Case {
    const char* name;
    std::string path;
    IOMode mode;
    bool create;
    int32_t error;
  };
  const Case cases[] = {
      {"missing file for reading", dir_.File("missing.xml"), IOMode::kForReading, false, kErrFileNotFound},
      {"reading never creates", dir_.File("missing.xml"), IOMode::kForReading, true, kErrFileNotFound},
      {"missing folder", dir_.File("nowhere/errors.txt"), IOMode::kForAppending, true, kErrFileNotFound},
      {"file in a folder's place", dir_.File("plain/errors.txt"), IOMode::kForAppending, true, kErrFileNotFound},
      {"directory read as a file", dir_.File("folder"), IOMode::kForReading, false, kErrFileAccess},
      {"directory in the file's place", dir_.File("folder"), IOMode::kForAppending, true, kErrFileAccess},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf([&] { Open(c.path, c.mode, c.create); }), c.error);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("missing.xml")));
}

TEST_F(PosixFileSystemTest, AFailingWriteRaisesAtOnce) {
  // A link to /dev/full stands for a full disk (root ignores permissions).
  const std::string path = dir_.File("errors.txt");
  std::filesystem::create_symlink("/dev/full", path);
  auto stream = Open(path, IOMode::kForAppending, true);
  std::wstring description;
  EXPECT_EQ(ErrorOf([&] { stream->WriteLine(L"lost"); }, &description), kErrDeviceIO);
  EXPECT_EQ(description, L"No space left on device");
  EXPECT_EQ(ErrorOf([&] { stream->WriteBlankLines(2); }), kErrDeviceIO);
}

TEST_F(PosixFileSystemTest, CallsTheStreamDoesNotAllowAreRejected) {
  const std::string path = dir_.File("file.txt");
  WriteBytes(path, "content");
  auto reader = Open(path, IOMode::kForReading, false);
  auto appender = Open(path, IOMode::kForAppending, false);
  auto closed = Open(path, IOMode::kForAppending, false);
  closed->Close();
  closed->Close();  // closing twice is harmless
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"write to a reader", [&] { reader->WriteLine(L"x"); }},
      {"blank lines to a reader", [&] { reader->WriteBlankLines(1); }},
      {"read from an appender", [&] { appender->ReadAll(); }},
      {"negative blank lines", [&] { appender->WriteBlankLines(-1); }},
      {"write to a closed stream", [&] { closed->WriteLine(L"x"); }},
      {"Unicode format", [&] { fs_->OpenTextFile(Utf8ToWide(path), IOMode::kForReading, false, -1); }},
      {"unknown mode", [&] { fs_->OpenTextFile(Utf8ToWide(path), static_cast<IOMode>(3), false, 0); }},
      {"NUL in the path",
       [&] { fs_->OpenTextFile(Utf8ToWide(path) + std::wstring(1, L'\0') + L"x", IOMode::kForReading, false, 0); }},
  };
  for (const auto& [name, call] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ErrorOf(call), kErrInvalidArgument);
  }
  EXPECT_EQ(ReadBytes(path), "content");
}

TEST_F(PosixFileSystemTest, NonUnicodeWideTextIsWrittenAsReplacement) {
  const std::string path = dir_.File("errors.txt");
  Open(path, IOMode::kForAppending, true)->WriteLine(std::wstring(1, static_cast<wchar_t>(0xD800)));
  EXPECT_EQ(ReadBytes(path), "\xEF\xBF\xBD\r\n");
}

}  // namespace
}  // namespace platform
