// Text files through the scripting runtime: reading the view, appending the
// error log, and the errors the platform interface promises.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/env.h"
#include "platform/error.h"
#include "platform/file_system.h"

namespace {

using platform::IOMode;
using platform::kTextFormatAscii;

class WindowsFileSystemTest : public ::testing::Test {
 protected:
  WindowsFileSystemTest() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    dir_ = std::filesystem::path(temp) /
           (L"marlgate-fs-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount64()));
    std::filesystem::create_directories(dir_);
    files_ = platform::Env::Default()->CreateFileSystem();
  }
  ~WindowsFileSystemTest() override {
    files_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::wstring Path(const std::wstring& name) const { return (dir_ / name).wstring(); }
  std::string Bytes(const std::wstring& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  int32_t ErrorOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const platform::Error& e) {
      return e.number();
    }
    return 0;
  }

  std::filesystem::path dir_;
  platform::Ref<platform::FileSystem> files_;
};

TEST_F(WindowsFileSystemTest, AppendingWritesLinesAndBlankLines) {
  auto log = files_->OpenTextFile(Path(L"errors.txt"), IOMode::kForAppending, true, kTextFormatAscii);
  log->WriteBlankLines(2);
  log->WriteLine(L"----");
  log->WriteLine(L"[9:05 AM] Error #5");
  log->WriteBlankLines(0);
  log->Close();
  log = files_->OpenTextFile(Path(L"errors.txt"), IOMode::kForAppending, true, kTextFormatAscii);
  log->WriteLine(L"again");
  log->Close();
  EXPECT_EQ(Bytes(L"errors.txt"), "\r\n\r\n----\r\n[9:05 AM] Error #5\r\nagain\r\n");
}

TEST_F(WindowsFileSystemTest, ReadsAWholeFileAndAnEmptyOne) {
  {
    std::ofstream out(dir_ / L"view.xml", std::ios::binary);
    out << "<view>\r\n  <button name=\"Go\"/>\r\n</view>";
  }
  { std::ofstream empty(dir_ / L"empty.txt", std::ios::binary); }
  auto view = files_->OpenTextFile(Path(L"view.xml"), IOMode::kForReading, false, kTextFormatAscii);
  EXPECT_EQ(view->ReadAll(), L"<view>\r\n  <button name=\"Go\"/>\r\n</view>");
  view->Close();
  auto empty = files_->OpenTextFile(Path(L"empty.txt"), IOMode::kForReading, false, kTextFormatAscii);
  EXPECT_EQ(empty->ReadAll(), L"");
}

TEST_F(WindowsFileSystemTest, AnsiTextRoundTrips) {
  auto out = files_->OpenTextFile(Path(L"a.txt"), IOMode::kForWriting, true, kTextFormatAscii);
  out->WriteLine(L"Caf\u00E9");
  out->Close();
  auto in = files_->OpenTextFile(Path(L"a.txt"), IOMode::kForReading, false, kTextFormatAscii);
  EXPECT_EQ(in->ReadAll(), L"Caf\u00E9\r\n");
}

TEST_F(WindowsFileSystemTest, FailuresCarryTheSystemsNumbers) {
  std::filesystem::create_directories(dir_ / L"folder");
  struct Case {
    std::wstring path;
    IOMode mode;
    bool create;
    int32_t number;
  };
  const Case cases[] = {
      {Path(L"missing.txt"), IOMode::kForReading, false, platform::kErrFileNotFound},
      // Reading never creates the file, whatever `create` says.
      {Path(L"missing.txt"), IOMode::kForReading, true, platform::kErrFileNotFound},
      {Path(L"missing.txt"), IOMode::kForAppending, false, platform::kErrFileNotFound},
      {Path(L"no-folder\\x.txt"), IOMode::kForAppending, true, platform::kErrFileNotFound},
      {Path(L"folder"), IOMode::kForReading, false, platform::kErrFileAccess},
      {Path(L"folder"), IOMode::kForAppending, true, platform::kErrFileAccess},
      {std::wstring(L"a\0b", 3), IOMode::kForReading, false, platform::kErrInvalidArgument},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { files_->OpenTextFile(c.path, c.mode, c.create, kTextFormatAscii); }),
              c.number)
        << std::string(c.path.begin(), c.path.end());
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / L"missing.txt"));
  EXPECT_EQ(ErrorOf([&] { files_->OpenTextFile(Path(L"u.txt"), IOMode::kForWriting, true, -1); }),
            platform::kErrInvalidArgument);
}

TEST_F(WindowsFileSystemTest, CallsTheStreamsModeDoesNotAllowAreRefused) {
  { std::ofstream out(dir_ / L"r.txt", std::ios::binary); out << "x"; }
  auto reader = files_->OpenTextFile(Path(L"r.txt"), IOMode::kForReading, false, kTextFormatAscii);
  EXPECT_EQ(ErrorOf([&] { reader->WriteLine(L"y"); }), platform::kErrInvalidArgument);
  EXPECT_EQ(ErrorOf([&] { reader->WriteBlankLines(1); }), platform::kErrInvalidArgument);
  auto writer = files_->OpenTextFile(Path(L"w.txt"), IOMode::kForAppending, true, kTextFormatAscii);
  EXPECT_EQ(ErrorOf([&] { writer->ReadAll(); }), platform::kErrInvalidArgument);
  EXPECT_EQ(ErrorOf([&] { writer->WriteBlankLines(-1); }), platform::kErrInvalidArgument);
  writer->Close();
  EXPECT_EQ(ErrorOf([&] { writer->WriteLine(L"late"); }), platform::kErrInvalidArgument);
  writer->Close();  // closing twice does nothing
  EXPECT_FALSE(writer->Detached());
}

}  // namespace
