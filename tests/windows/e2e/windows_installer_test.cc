// The player's installer, as a player without administrator rights uses
// it, in a Wine prefix of its own made fresh for the test: silent install
// into the per-user folder, a registration for this user only, the travel
// service's address given with /SERVICE=, the reference host running
// lookups with the installed plug-in against that address, and a silent
// uninstall that leaves nothing of ours but the player's error log; an
// upgrade in between changes nothing of that. A prefix without MSXML 4.0
// and 6.0 gets a refusal and no install.
//
// MARLGATE_INSTALLER names the installer, MARLGATE_UPGRADE_INSTALLER a newer
// build of it, and MARLGATE_INSTALLER_VIEW the registry view its DLL
// registers in: /reg:64 (the default) for the x86-64 installer, run here
// under Wine; /reg:32 for the x86 one, run by scripts/test-windows-i686.sh
// in a guest with 32-bit Wine, with MARLGATE_WINDOWS_BIN_DIR naming the
// 32-bit host.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/integration/host_harness.h"
#include "tests/integration/stub_service.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CommandRun;
using testing_support::HostPath;
using testing_support::RunCommand;
using testing_support::StubService;
using Json = nlohmann::json;

const char* const kOurKeys =
    "DA1DF1DA-18A6|1EBCD13B-85FC|4E4BBEFA-1818|5C3B7E21-4D8A|14D0B042-6F3F|780D804F-D974|"
    "marlgate_travels|MarlgateTravels|Marlgate Travels\\]";
// The address the install is given: another host and port than the build's.
const std::string kServiceHost = "travel.installed.test";
const std::string kServiceUrl = "http://" + kServiceHost + ":8080/marlgate_travels/travel.php";
const std::string kMain = "{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06}";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A Wine prefix of its own, made fresh, used by every command the test
// runs while it lives, and removed at the end.
class FreshPrefix {
 public:
  FreshPrefix() : saved_(Environment("WINEPREFIX")) {
    std::string pattern = (fs::temp_directory_path() / "marlgate-installer-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    setenv("WINEPREFIX", dir_.c_str(), 1);
    setenv("WINEARCH", "win64", 1);
    RunCommand({"/usr/bin/wineboot", "-i"});
  }
  ~FreshPrefix() {
    RunCommand({"/usr/bin/wineserver", "-k"});
    setenv("WINEPREFIX", saved_.c_str(), 1);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // %LOCALAPPDATA%\Marlgate Travels of the prefix's user, on this machine.
  fs::path InstallFolder() const {
    for (const auto& user : fs::directory_iterator(dir_ / "drive_c" / "users")) {
      const fs::path folder = user.path() / "AppData" / "Local" / "Marlgate Travels";
      if (user.path().filename() != "Public" && fs::exists(folder.parent_path())) return folder;
    }
    return {};
  }
  // Every line of the saved registry (both views, machine and user) that
  // names something of ours.
  std::vector<std::string> OurKeys() const {
    RunCommand({"/usr/bin/wineserver", "-w"});
    std::vector<std::string> found;
    const std::regex ours(kOurKeys, std::regex::icase);
    for (const char* file : {"system.reg", "user.reg"}) {
      std::ifstream in(dir_ / file);
      for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, ours)) found.push_back(line);
      }
    }
    return found;
  }
  const fs::path& path() const { return dir_; }

 private:
  std::string saved_;
  fs::path dir_;
};

CommandRun Wine(std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/wine");
  return RunCommand(std::move(args));
}

// Runs the uninstaller as the system's list of programs does a quiet
// uninstall: the QuietUninstallString the install left in its entry (the
// quoted program as Windows names it, then its arguments).
int Uninstall() {
  const CommandRun entry = Wine({"reg", "query",
                                 "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MarlgateTravels",
                                 "/v", "QuietUninstallString"});
  std::smatch found;
  if (!std::regex_search(entry.output, found, std::regex("REG_SZ\\s+\"([^\"]+)\"(.*?)\\r?\\n"))) return -1;
  std::vector<std::string> command{found[1].str()};
  std::istringstream arguments(found[2].str());
  for (std::string argument; arguments >> argument;) command.push_back(argument);
  return Wine(std::move(command)).exit_code;
}

bool KeyExists(const std::string& key, const std::string& view) {
  return Wine({"reg", "query", key, view}).exit_code == 0;
}

std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class WindowsInstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    installer_ = Environment("MARLGATE_INSTALLER");
    upgrade_ = Environment("MARLGATE_UPGRADE_INSTALLER");
    view_ = Environment("MARLGATE_INSTALLER_VIEW");
    if (view_.empty()) view_ = "/reg:64";
    if (installer_.empty()) GTEST_SKIP() << "MARLGATE_INSTALLER names no installer";
  }
  std::string installer_;
  std::string upgrade_;
  std::string view_;
};

TEST_F(WindowsInstaller, InstallsForTheUserLooksUpAndUninstallsCleanly) {
  FreshPrefix prefix;
  // An address that is not http:// is refused before anything is written.
  EXPECT_NE(Wine({installer_, "/S", "/SERVICE=ftp://" + kServiceHost + "/"}).exit_code, 0);
  EXPECT_EQ(prefix.OurKeys(), std::vector<std::string>{});
  ASSERT_EQ(Wine({installer_, "/S", "/SERVICE=" + kServiceUrl}).exit_code, 0);
  const fs::path folder = prefix.InstallFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(FilesIn(folder),
            (std::vector<std::string>{"Marlgate_Travels.xml", "marlgate_travels.dll", "uninstall.exe"}));

  // Registered for this user only, in the view of the DLL's architecture,
  // and for the machine in neither view.
  const CommandRun user =
      Wine({"reg", "query", "HKCU\\Software\\Classes\\CLSID\\" + kMain + "\\InprocServer32", view_});
  EXPECT_NE(user.output.find("AppData\\Local\\Marlgate Travels\\marlgate_travels.dll"), std::string::npos)
      << user.output;
  for (const char* view : {"/reg:64", "/reg:32"}) {
    EXPECT_FALSE(KeyExists("HKLM\\Software\\Classes\\CLSID\\" + kMain, view)) << view;
  }
  const CommandRun entry =
      Wine({"reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MarlgateTravels"});
  for (const char* value : {"DisplayName", "DisplayVersion", "Publisher", "EstimatedSize",
                            "UninstallString", "QuietUninstallString"}) {
    EXPECT_NE(entry.output.find(value), std::string::npos) << value << "\n" << entry.output;
  }
  const CommandRun setting = Wine({"reg", "query", "HKCU\\Software\\Marlgate Travels", "/v", "ServiceURL"});
  EXPECT_NE(setting.output.find(kServiceUrl), std::string::npos) << setting.output;

  // The reference host, pointed at the installed plug-in: a search, a
  // route and notes against the loopback service. A first run without a
  // site leaves an error log, which the uninstall must keep.
  StubService service;
  service.SetReply("search", {200, R"(<search results="Harrow Ford|"/>)"});
  service.SetReply("get", {200, R"(<get name="Harrow Ford" coords="33.4N, 12.7E" route="Start|Walk|"/>)"});
  service.SetReply("more", {200, R"(<more lvls="10-20" notes="Wolves|"/>)"});
  const std::string host = (testing_support::BinDir() / "marlgate-host.exe").string();
  const std::string dll = HostPath(folder / "marlgate_travels.dll");
  const fs::path script = prefix.path() / "lookup.txt";
  std::ofstream(script) << "init nosite\nrelease\ninit\ntype SearchText harrow\nclick SearchButton\nwait\n"
                           "select SearchList 0 0\nwait\nclick GetNotes\nwait\ndump\n";
  const std::string connect_to = kServiceHost + ":8080:127.0.0.1:" + std::to_string(service.port());
  const CommandRun run = Wine({host, "--plugin", dll, "--connect-to", connect_to, "--script",
                               HostPath(script)});
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  std::istringstream events(run.output);
  Json panel;
  for (std::string line; std::getline(events, line);) {
    if (!line.empty() && Json::parse(line).value("event", "") == "panel") panel = Json::parse(line);
  }
  ASSERT_FALSE(panel.is_null()) << run.output << run.stderr_text;
  EXPECT_EQ(panel["controls"]["Dest"]["text"], "Harrow Ford");
  EXPECT_EQ(panel["controls"]["RouteList"]["rows"].size(), 2u);
  EXPECT_EQ(panel["controls"]["Levels"]["text"], "Levels: 10-20");
  ASSERT_EQ(service.Requests().size(), 3u);
  EXPECT_EQ(service.Requests()[0].Header("Host"), kServiceHost + ":8080");
  ASSERT_TRUE(fs::exists(folder / "errors.txt"));

  ASSERT_EQ(Uninstall(), 0);
  // The uninstaller finishes from a copy of itself.
  for (int i = 0; i < 600 && FilesIn(folder).size() > 1; ++i) usleep(100 * 1000);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"errors.txt"});
  EXPECT_EQ(prefix.OurKeys(), std::vector<std::string>{});
}

TEST_F(WindowsInstaller, AnUpgradeLeavesTheSameEndState) {
  if (upgrade_.empty()) GTEST_SKIP() << "MARLGATE_UPGRADE_INSTALLER names no newer build";
  FreshPrefix prefix;
  ASSERT_EQ(Wine({installer_, "/S"}).exit_code, 0);
  const fs::path folder = prefix.InstallFolder();
  ASSERT_EQ(Wine({upgrade_, "/S"}).exit_code, 0);
  const CommandRun entry = Wine(
      {"reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MarlgateTravels", "/v",
       "DisplayVersion"});
  EXPECT_EQ(entry.output.find("1.0.2"), std::string::npos) << "still the older version:\n" << entry.output;
  ASSERT_EQ(Uninstall(), 0);
  for (int i = 0; i < 600 && fs::exists(folder); ++i) usleep(100 * 1000);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(prefix.OurKeys(), std::vector<std::string>{});
}

TEST_F(WindowsInstaller, WithoutMsxmlItRefusesAndInstallsNothing) {
  FreshPrefix prefix;
  for (const char* prog_id : {"Msxml2.DOMDocument.6.0", "Msxml2.DOMDocument.4.0"}) {
    Wine({"reg", "delete", std::string("HKLM\\Software\\Classes\\") + prog_id, "/f"});
  }
  EXPECT_NE(Wine({installer_, "/S"}).exit_code, 0);
  EXPECT_FALSE(fs::exists(prefix.InstallFolder()));
  EXPECT_EQ(prefix.OurKeys(), std::vector<std::string>{});
}

}  // namespace
