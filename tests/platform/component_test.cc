#include "platform/component.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/error.h"
#include "platform/module.h"
#include "platform/text.h"
#include "tests/platform/component_fixture.h"
#include "tests/platform/temp_dir.h"

namespace platform {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

int32_t ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.number();
  }
  return kErrNone;
}

// --- Guid -------------------------------------------------------------------

TEST(GuidTest, ParsesTheWrittenForms) {
  const Guid main{0xDA1DF1DA, 0x18A6, 0x473F, {0x85, 0x1E, 0x0D, 0x1A, 0x0F, 0xBD, 0x7D, 0x06}};
  struct Case {
    const char* text;
    std::optional<Guid> guid;
  };
  const Case cases[] = {
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06", main},
      {"{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06}", main},
      {"{da1df1da-18a6-473f-851e-0d1a0fbd7d06}", main},
      {"Da1DF1dA-18a6-473F-851e-0D1A0FBD7D06", main},
      {"", std::nullopt},
      {"{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06", std::nullopt},
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06}", std::nullopt},
      {"(DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06)", std::nullopt},
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7D0", std::nullopt},
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7D066", std::nullopt},
      {"DA1DF1DA18A6-473F-851E-0D1A0FBD7D06-", std::nullopt},
      {"DA1DF1DG-18A6-473F-851E-0D1A0FBD7D06", std::nullopt},
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7D0 ", std::nullopt},
      {"+A1DF1DA-18A6-473F-851E-0D1A0FBD7D06", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Guid::Parse(c.text), c.guid);
  }
  EXPECT_EQ(main.ToString(), "DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06");
  const Guid small{0x1, 0x2, 0x3, {0, 1, 2, 3, 4, 5, 6, 0xAB}};
  EXPECT_EQ(small.ToString(), "00000001-0002-0003-0001-0203040506AB");
  EXPECT_EQ(Guid::Parse(small.ToString()), small);
}

// --- ComponentRegistry --------------------------------------------------------

class ComponentRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ComponentRegistry::SetPath(path_); }
  void TearDown() override { ComponentRegistry::SetPath(""); }

  static ComponentRegistry::Entry Entry(const char* clsid, const char* prog_id, const char* library) {
    return {*Guid::Parse(clsid), prog_id, library};
  }

  TempDir dir_;
  std::string path_ = dir_.File("registry.txt");
};

constexpr const char* kMain = "DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06";
constexpr const char* kHandler = "1EBCD13B-85FC-4996-8320-D47D04860361";

TEST_F(ComponentRegistryTest, AMissingFileIsAnEmptyRegistry) {
  EXPECT_TRUE(ComponentRegistry::All().empty());
  EXPECT_FALSE(ComponentRegistry::Find(*Guid::Parse(kMain)));
  ComponentRegistry::Unregister(*Guid::Parse(kMain));
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(ComponentRegistryTest, RegisterAddsReplacesAndUnregisterRemoves) {
  ComponentRegistry::Register(Entry(kMain, "Marlgate_Travels.Main", "/opt/old/libmarlgate_travels.so"));
  ComponentRegistry::Register(Entry(kHandler, "Marlgate_Travels.httpHandler", "/opt/my plugins/lib.so"));
  ComponentRegistry::Register(Entry(kMain, "Marlgate_Travels.Main", "/opt/new/libmarlgate_travels.so"));
  EXPECT_EQ(ReadBytes(path_),
            "{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06} Marlgate_Travels.Main /opt/new/libmarlgate_travels.so\n"
            "{1EBCD13B-85FC-4996-8320-D47D04860361} Marlgate_Travels.httpHandler /opt/my plugins/lib.so\n");

  const auto handler = ComponentRegistry::Find(*Guid::Parse(kHandler));
  ASSERT_TRUE(handler);
  EXPECT_EQ(handler->prog_id, "Marlgate_Travels.httpHandler");
  EXPECT_EQ(handler->library_path, "/opt/my plugins/lib.so");
  EXPECT_EQ(ComponentRegistry::All().size(), 2u);

  ComponentRegistry::Unregister(*Guid::Parse(kMain));
  EXPECT_FALSE(ComponentRegistry::Find(*Guid::Parse(kMain)));
  ASSERT_EQ(ComponentRegistry::All().size(), 1u);
  EXPECT_EQ(ComponentRegistry::All()[0].clsid, *Guid::Parse(kHandler));

  // Only the registry file is left: the temporary files were renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(ComponentRegistryTest, LinesThatAreNoEntriesAreSkippedAndKept) {
  WriteBytes(path_,
             "# written by hand\r\n"
             "\n"
             "{1EBCD13B-85FC-4996-8320-D47D04860361} Handler\n"
             "{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06} Marlgate_Travels.Main /lib/a.so\n"
             "{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06} Marlgate_Travels.Main /lib/duplicate.so");
  const auto all = ComponentRegistry::All();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(ComponentRegistry::Find(*Guid::Parse(kMain))->library_path, "/lib/a.so");

  ComponentRegistry::Register(Entry(kMain, "Marlgate_Travels.Main", "/lib/b.so"));
  EXPECT_EQ(ReadBytes(path_),
            "# written by hand\n"
            "\n"
            "{1EBCD13B-85FC-4996-8320-D47D04860361} Handler\n"
            "{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06} Marlgate_Travels.Main /lib/b.so\n");
}

TEST_F(ComponentRegistryTest, FailuresRaise) {
  std::filesystem::create_directory(dir_.path() / "folder");
  const auto entry = Entry(kMain, "Marlgate_Travels.Main", "/lib/a.so");
  struct Case {
    const char* name;
    std::string path;
    std::function<void()> call;
    int32_t error;
  };
  const Case cases[] = {
      {"no path set", "", [&] { ComponentRegistry::All(); }, kErrFileAccess},
      {"no path set for Register", "", [&] { ComponentRegistry::Register(entry); }, kErrFileAccess},
      {"a directory in the file's place", dir_.File("folder"), [&] { ComponentRegistry::All(); },
       kErrFileAccess},
      {"a folder that does not exist", dir_.File("missing/registry.txt"),
       [&] { ComponentRegistry::Register(entry); }, kErrFileAccess},
      {"a ProgID with a blank", path_,
       [&] { ComponentRegistry::Register(Entry(kMain, "Marlgate Main", "/lib/a.so")); }, kErrInvalidArgument},
      {"an empty library path", path_, [&] { ComponentRegistry::Register(Entry(kMain, "Main", "")); },
       kErrInvalidArgument},
      {"a line break in the library path", path_,
       [&] { ComponentRegistry::Register(Entry(kMain, "Main", "/lib/a.so\n{X} Y Z")); }, kErrInvalidArgument},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ComponentRegistry::SetPath(c.path);
    EXPECT_EQ(ComponentRegistry::Path(), c.path);
    EXPECT_EQ(ErrorOf(c.call), c.error);
  }
  EXPECT_FALSE(std::filesystem::exists(path_));
}

// --- ComponentLibrary and module paths ------------------------------------------

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  std::string result = resolved != nullptr ? resolved : path;
  ::free(resolved);
  return result;
}

bool IsMapped(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

class ComponentLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ComponentRegistry::SetPath(dir_.File("registry.txt")); }
  void TearDown() override { ComponentRegistry::SetPath(""); }

  std::shared_ptr<fixture::Thing> CreateThing(ClassFactory& factory) {
    std::shared_ptr<void> object;
    EXPECT_EQ(factory.CreateInstance(fixture::kThingIid, &object), kOk);
    return std::static_pointer_cast<fixture::Thing>(object);
  }

  // What the loaded fixture counts as alive (objects and factories).
  int LiveCount() {
    void* handle = ::dlopen(fixture_path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return -1;
    auto fn = reinterpret_cast<fixture::LiveCountFn>(::dlsym(handle, fixture::kLiveCountExport));
    const int count = fn != nullptr ? fn() : -1;
    ::dlclose(handle);
    return count;
  }

  TempDir dir_;
  const std::string fixture_path_ = MARLGATE_COMPONENT_FIXTURE;
};

TEST_F(ComponentLibraryTest, UnloadWaitsUntilNothingOfTheLibraryLives) {
  ASSERT_FALSE(IsMapped(fixture_path_));
  ComponentLibrary library;
  EXPECT_TRUE(library.CanUnloadNow());
  EXPECT_FALSE(library.Unload());  // nothing loaded
  library.Load(fixture_path_);
  EXPECT_TRUE(library.loaded());
  EXPECT_EQ(library.path(), fixture_path_);

  auto factory = library.GetClassObject(fixture::kThingClsid);
  ASSERT_TRUE(factory);
  auto thing = CreateThing(*factory);
  ASSERT_TRUE(thing);
  EXPECT_EQ(thing->Value(), 42);
  std::shared_ptr<void> other;
  EXPECT_EQ(factory->CreateInstance(fixture::kThingClsid, &other), kNoInterface);
  EXPECT_EQ(LiveCount(), 2);

  factory.reset();
  EXPECT_FALSE(library.CanUnloadNow());
  EXPECT_FALSE(library.Unload());
  EXPECT_TRUE(library.loaded());
  EXPECT_EQ(thing->Value(), 42);  // still mapped under the object

  thing.reset();
  EXPECT_EQ(LiveCount(), 0);
  EXPECT_TRUE(library.CanUnloadNow());
  EXPECT_TRUE(library.Unload());
  EXPECT_FALSE(library.loaded());
  EXPECT_FALSE(IsMapped(fixture_path_));
}

TEST_F(ComponentLibraryTest, ALockKeepsTheLibraryLoaded) {
  ComponentLibrary library;
  library.Load(fixture_path_);
  {
    auto factory = library.GetClassObject(fixture::kThingClsid);
    factory->LockServer(true);
  }
  EXPECT_FALSE(library.Unload());
  library.GetClassObject(fixture::kThingClsid)->LockServer(false);
  EXPECT_TRUE(library.Unload());
  EXPECT_FALSE(IsMapped(fixture_path_));
}

TEST_F(ComponentLibraryTest, DestructionLeavesALibraryThatStillServesObjectsMapped) {
  std::shared_ptr<fixture::Thing> thing;
  {
    ComponentLibrary library;
    library.Load(fixture_path_);
    thing = CreateThing(*library.GetClassObject(fixture::kThingClsid));
  }
  ASSERT_TRUE(IsMapped(fixture_path_));
  EXPECT_EQ(thing->Value(), 42);
  thing.reset();
  // The destructor kept exactly one reference; drop it for the other tests.
  void* handle = ::dlopen(fixture_path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  ::dlclose(handle);
  ::dlclose(handle);
  EXPECT_FALSE(IsMapped(fixture_path_));
}

TEST_F(ComponentLibraryTest, RegistersItselfWithItsOwnPath) {
  ComponentLibrary library;
  library.Load(fixture_path_);
  EXPECT_EQ(library.RegisterServer(), kOk);
  const auto entry = ComponentRegistry::Find(fixture::kThingClsid);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->prog_id, fixture::kThingProgId);
  EXPECT_EQ(entry->library_path, RealPath(fixture_path_));
  EXPECT_EQ(library.UnregisterServer(), kOk);
  EXPECT_FALSE(ComponentRegistry::Find(fixture::kThingClsid));
  EXPECT_TRUE(library.Unload());
}

TEST_F(ComponentLibraryTest, FailuresRaise) {
  WriteBytes(dir_.File("not-a-library.so"), "just text");
  ComponentLibrary loaded;
  loaded.Load(fixture_path_);
  const Guid unknown{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  ComponentLibrary empty;
  const std::pair<const char*, std::function<int32_t()>> cases[] = {
      {"missing file", [&] { return ErrorOf([&] { ComponentLibrary().Load(dir_.File("missing.so")); }); }},
      {"not a library", [&] { return ErrorOf([&] { ComponentLibrary().Load(dir_.File("not-a-library.so")); }); }},
      {"loading twice", [&] { return ErrorOf([&] { loaded.Load(fixture_path_); }); }},
      {"unknown class", [&] { return ErrorOf([&] { loaded.GetClassObject(unknown); }); }},
      {"nothing loaded", [&] { return ErrorOf([&] { empty.GetClassObject(fixture::kThingClsid); }); }},
  };
  const int32_t expected[] = {kErrFileNotFound, kErrFileAccess, kErrInvalidArgument, kClassNotAvailable,
                              kErrEmptyReference};
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].first);
    EXPECT_EQ(cases[i].second(), expected[i]);
  }
  EXPECT_EQ(loaded.path(), fixture_path_);
  EXPECT_TRUE(loaded.Unload());
}

void FunctionOfTheTest() {}

TEST(ModulePathTest, NamesTheFileThatHoldsAnAddress) {
  char exe[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const auto* own = reinterpret_cast<const void*>(&FunctionOfTheTest);
  EXPECT_EQ(ModulePathOf(own), RealPath(exe));
  EXPECT_EQ(ModuleFolderOf(own), Utf8ToWide(std::filesystem::path(RealPath(exe)).parent_path().string()));

  // An address inside the platform library names that library, not the program.
  const auto* platform_code = reinterpret_cast<const void*>(&Utf8ToWide);
  const std::string platform_path = ModulePathOf(platform_code);
  EXPECT_NE(platform_path, RealPath(exe));
  EXPECT_NE(platform_path.find("libmarlgate_platform"), std::string::npos);
  EXPECT_EQ(platform_path[0], '/');
  EXPECT_EQ(ModuleFolderOf(platform_code).back() == L'/', false);

  int on_the_stack = 0;
  EXPECT_EQ(ErrorOf([&] { ModulePathOf(&on_the_stack); }), kErrInvalidArgument);
}

}  // namespace
}  // namespace platform
