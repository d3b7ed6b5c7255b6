// The device enumerator over the camera list in the registry: order, names, property bags,
// the enumerator's contract, binding, and kestrel-register run as a real program writing
// what the enumerator then reads.
#include "media/device_enum.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "media/com_ptr.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "platform/subprocess.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "tests/test_names.h"

namespace {

using media::ComPtr;
using media::UniqueTaskMem;
using platform::RegistryRoot;

// {33D9A762-90C8-11d0-BD43-00A0C911CE86}
const GUID kAudioInputCategory = {0x33D9A762, 0x90C8, 0x11d0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

// The synthetic camera's class, and the result its Load gives when configured to fail.
const CLSID kKestrelCam = {0x66921C7C, 0xFC9D, 0x4FA6, {0xA6, 0xEE, 0xF4, 0xFE, 0xE5, 0x21, 0x92, 0x82}};
constexpr HRESULT kCameraBindFailure = static_cast<HRESULT>(0x8007048F);

std::string BuildPath(std::string relative) {
  const std::string self = platform::CurrentExecutablePath();
  const std::string tests = self.substr(0, self.find_last_of("\\/"));
  for (char& c : relative)
    if (c == '/') c = platform::kPathSeparator;
  return tests.substr(0, tests.find_last_of("\\/") + 1) + relative;
}

struct Listed {
  std::string display, friendly;
  bool operator==(const Listed&) const = default;
};

void PrintTo(const Listed& l, std::ostream* os) { *os << "{" << l.display << ", " << l.friendly << "}"; }

std::string Utf8(const OLECHAR* text) { return platform::Utf16ToUtf8(media::AsUtf16(text)); }

HRESULT Enumerate(REFGUID category, ComPtr<IEnumMoniker>* out) {
  ComPtr<ICreateDevEnum> devEnum;
  const HRESULT hr = CreateSystemDeviceEnum(IID_ICreateDevEnum, devEnum.putVoid());
  if (FAILED(hr)) return hr;
  return devEnum->CreateClassEnumerator(category, out->put(), 0);
}

std::string ReadProperty(IMoniker* moniker, const char16_t* name) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()))) return "<no bag>";
  media::ScopedVariant v;
  if (FAILED(bag->Read(media::AsOle(name), v.get(), nullptr))) return "<missing>";
  if (v.get()->vt != VT_BSTR) return "<not a string>";
  return Utf8(v.get()->bstrVal);
}

// Every camera the enumerator lists, one moniker at a time.
std::vector<Listed> ListCameras() {
  ComPtr<IEnumMoniker> e;
  if (Enumerate(CLSID_VideoInputDeviceCategory, &e) != S_OK) return {};
  std::vector<Listed> listed;
  ComPtr<IMoniker> m;
  while (e->Next(1, m.put(), nullptr) == S_OK) {
    UniqueTaskMem<OLECHAR> name;
    EXPECT_EQ(m->GetDisplayName(nullptr, nullptr, name.put()), S_OK);
    listed.push_back({name ? Utf8(name.get()) : "", ReadProperty(m.get(), u"FriendlyName")});
  }
  return listed;
}

void WriteCamera(const std::string& number, const char* display, const char* friendly, const char* clsid = "",
                 const char* config = "") {
  const std::string key = std::string(media::kCameraListKey) + "\\" + number;
  if (display) platform::SetRegistryString(RegistryRoot::LocalMachine, key.c_str(), media::kCameraDisplayName, display);
  platform::SetRegistryString(RegistryRoot::LocalMachine, key.c_str(), media::kCameraFriendlyName, friendly);
  platform::SetRegistryString(RegistryRoot::LocalMachine, key.c_str(), media::kCameraClass, clsid);
  platform::SetRegistryString(RegistryRoot::LocalMachine, key.c_str(), media::kCameraConfig, config);
}

// A registry of its own on Linux; the camera list emptied before and after everywhere. Every
// object the enumerator made is gone at the end.
class DeviceEnumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::string tag = std::to_string(platform::CurrentProcessId()) + "-" +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    file_ = platform::JoinPath(platform::TemporaryDirectory(), "kestrel-devices-" + tag + ".reg");
    platform::SetEnvironmentValue(platform::kRegistryFileVariable, file_.c_str());
    platform::DeleteRegistryTree(RegistryRoot::LocalMachine, media::kCameraListKey);
  }
  void TearDown() override {
    EXPECT_EQ(media::LiveDeviceEnumObjects(), 0);
    platform::DeleteRegistryTree(RegistryRoot::LocalMachine, media::kCameraListKey);
    platform::DeleteFileAt(file_.c_str());
    CoUninitialize();
  }
  std::string file_;
};

TEST_F(DeviceEnumTest, ListsTheConfiguredCamerasInKeyOrder) {
  WriteCamera("0010", "@device:pnp:\\\\?\\usb#vid_0003", "Third");
  WriteCamera("0001", "@device:pnp:\\\\?\\usb#vid_0001", "First");
  WriteCamera("0002", "@device:pnp:\\\\?\\usb#vid_0002", "Second");
  WriteCamera("notes", "@device:pnp:\\\\?\\usb#vid_0009", "Not a camera number");
  WriteCamera("0005", nullptr, "No display name");
  EXPECT_EQ(ListCameras(), (std::vector<Listed>{{"@device:pnp:\\\\?\\usb#vid_0001", "First"},
                                                {"@device:pnp:\\\\?\\usb#vid_0002", "Second"},
                                                {"@device:pnp:\\\\?\\usb#vid_0003", "Third"}}));
}

TEST_F(DeviceEnumTest, NothingToListAnswersFalseWithoutAnEnumerator) {
  const struct {
    const char* name;
    bool camera;  // one camera configured
    const GUID* category;
  } cases[] = {
      {"no camera list", false, &CLSID_VideoInputDeviceCategory},
      {"audio input", true, &kAudioInputCategory},
      {"a null category", true, &GUID_NULL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::DeleteRegistryTree(RegistryRoot::LocalMachine, media::kCameraListKey);
    if (c.camera) WriteCamera("0001", "@device:pnp:\\\\?\\usb#vid_0001", "Cam");
    ComPtr<IEnumMoniker> e;
    EXPECT_EQ(Enumerate(*c.category, &e), S_FALSE);
    EXPECT_FALSE(e);
  }
  // A list whose keys are all gone is empty again.
  WriteCamera("0001", "@device:pnp:\\\\?\\usb#vid_0001", "Cam");
  platform::DeleteRegistryTree(RegistryRoot::LocalMachine, (std::string(media::kCameraListKey) + "\\0001").c_str());
  ComPtr<IEnumMoniker> e;
  EXPECT_EQ(Enumerate(CLSID_VideoInputDeviceCategory, &e), S_FALSE);
}

TEST_F(DeviceEnumTest, PropertyBagHoldsTheDeviceEntry) {
  WriteCamera("0001", "@device:pnp:\\\\?\\usb#vid_fa57&pid_0001\\global", "Desk Cam",
              "{66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}", "caps=YUY2:640x480; fail=bind");
  ComPtr<IEnumMoniker> e;
  ASSERT_EQ(Enumerate(CLSID_VideoInputDeviceCategory, &e), S_OK);
  ComPtr<IMoniker> m;
  ASSERT_EQ(e->Next(1, m.put(), nullptr), S_OK);
  const struct {
    const char16_t* property;
    const char* expected;
  } cases[] = {
      {u"FriendlyName", "Desk Cam"},
      {u"DevicePath", "\\\\?\\usb#vid_fa57&pid_0001\\global"},
      {u"CLSID", "{66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}"},
      {u"Config", "caps=YUY2:640x480; fail=bind"},
      {u"Description", "<missing>"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadProperty(m.get(), c.property), c.expected) << platform::Utf16ToUtf8(c.property);

  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()), S_OK);
  media::ScopedVariant number;
  number.get()->vt = VT_I4;
  EXPECT_TRUE(FAILED(bag->Read(OLESTR("FriendlyName"), number.get(), nullptr)));  // strings only
  EXPECT_EQ(bag->Read(OLESTR("FriendlyName"), nullptr, nullptr), E_POINTER);
  ComPtr<IUnknown> other;
  EXPECT_EQ(m->BindToStorage(nullptr, nullptr, IID_IEnumMoniker, other.putVoid()), E_NOINTERFACE);
  EXPECT_EQ(m->GetDisplayName(nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(DeviceEnumTest, MonikerEnumeratorWalksSkipsResetsAndClones) {
  for (const char* n : {"0001", "0002", "0003"})
    WriteCamera(n, (std::string("@device:pnp:\\\\?\\usb#vid_") + n).c_str(), n);
  ComPtr<IEnumMoniker> e;
  ASSERT_EQ(Enumerate(CLSID_VideoInputDeviceCategory, &e), S_OK);
  const auto nameOf = [](IMoniker* m) {
    UniqueTaskMem<OLECHAR> name;
    if (FAILED(m->GetDisplayName(nullptr, nullptr, name.put()))) return std::string("?");
    const std::string text = Utf8(name.get());
    return text.substr(text.size() - 4);
  };

  IMoniker* batch[3] = {};
  ULONG fetched = 9;
  EXPECT_EQ(e->Next(2, batch, nullptr), E_POINTER);  // more than one needs the count
  ASSERT_EQ(e->Next(2, batch, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(nameOf(batch[0]) + nameOf(batch[1]), "00010002");
  batch[0]->Release();
  batch[1]->Release();

  ComPtr<IEnumMoniker> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  ASSERT_EQ(e->Next(3, batch, &fetched), S_FALSE);  // only one left
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(nameOf(batch[0]), "0003");
  batch[0]->Release();
  ComPtr<IMoniker> m;
  ASSERT_EQ(clone->Next(1, m.put(), nullptr), S_OK);  // the clone kept its own place
  EXPECT_EQ(nameOf(m.get()), "0003");

  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(2), S_OK);
  ASSERT_EQ(e->Next(1, m.put(), nullptr), S_OK);
  EXPECT_EQ(nameOf(m.get()), "0003");
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(4), S_FALSE);
  EXPECT_EQ(e->Next(1, m.put(), nullptr), S_FALSE);
  EXPECT_FALSE(m);

  ComPtr<ICreateDevEnum> devEnum;
  ASSERT_EQ(CreateSystemDeviceEnum(IID_ICreateDevEnum, devEnum.putVoid()), S_OK);
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, nullptr, 0), E_POINTER);
  EXPECT_EQ(CreateSystemDeviceEnum(IID_ICreateDevEnum, nullptr), E_POINTER);
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(CreateSystemDeviceEnum(IID_IPropertyBag, wrong.putVoid()), E_NOINTERFACE);
}

// Binding creates the configured class; a class that cannot be made fails the bind.
TEST_F(DeviceEnumTest, BindingFailsForAClassThatCannotBeMade) {
  const struct {
    const char* name;
    const char* clsid;
  } cases[] = {
      {"malformed class", "not a class"},
      {"unregistered class", "{0BADC0DE-0000-4000-8000-000000000001}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::DeleteRegistryTree(RegistryRoot::LocalMachine, media::kCameraListKey);
    WriteCamera("0001", "@device:pnp:\\\\?\\usb#vid_0001", "Cam", c.clsid);
    ComPtr<IEnumMoniker> e;
    ASSERT_EQ(Enumerate(CLSID_VideoInputDeviceCategory, &e), S_OK);
    ComPtr<IMoniker> m;
    ASSERT_EQ(e->Next(1, m.put(), nullptr), S_OK);
    ComPtr<IBaseFilter> filter;
    EXPECT_TRUE(FAILED(m->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid())));
    EXPECT_FALSE(filter);
  }
}

// kestrel-register, run as a program, writes the camera list the enumerator reads and the
// filters' classes.
TEST_F(DeviceEnumTest, RegisterCommandWritesWhatTheEnumeratorReads) {
  const auto run = [](const std::vector<std::string>& args) {
    platform::Subprocess child;
    if (!child.Start(BuildPath(KESTREL_REGISTER), args)) return -1;
    int code = -1;
    return child.Wait(test_names::kGenerousMs, &code) ? code : -2;
  };
  const std::string modules = BuildPath("tests");
  ASSERT_EQ(run({"--modules", modules, "--clear", "--camera", "Desk Cam|caps=YUY2:640x480", "--camera", "Spare|fail=bind",
                 "--display", "@device:pnp:\\\\?\\usb#vid_0bad&pid_0002#custom"}),
            0);
  ASSERT_EQ(run({"--no-filters", "--camera", "Third|"}), 0);
  EXPECT_EQ(ListCameras(),
            (std::vector<Listed>{
                {"@device:pnp:\\\\?\\usb#vid_fa57&pid_0001&mi_00#7&1b2c3d&0&0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                 "Desk Cam"},
                {"@device:pnp:\\\\?\\usb#vid_0bad&pid_0002#custom", "Spare"},
                {"@device:pnp:\\\\?\\usb#vid_fa57&pid_0003&mi_00#7&1b2c3d&0&0003#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                 "Third"}}));

  platform::RegistryKey server;
  ASSERT_EQ(server.Open(RegistryRoot::LocalMachine,
                        "SOFTWARE\\Classes\\CLSID\\{66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}\\InprocServer32",
                        platform::RegistryAccess::Read),
            0);
  char16_t text[600] = {};
  uint32_t size = sizeof text - 2;
  ASSERT_EQ(server.Query("", nullptr, text, &size), 0);
  const std::string module = platform::Utf16ToUtf8(text);
  EXPECT_EQ(module.substr(0, modules.size()), modules);
  EXPECT_NE(module.find("KestrelCam."), std::string::npos) << module;
  size = sizeof text - 2;
  ASSERT_EQ(server.Query("ThreadingModel", nullptr, text, &size), 0);
  EXPECT_EQ(std::u16string(text), u"Both");

  EXPECT_EQ(run({"--camera"}), 2);
  EXPECT_EQ(run({"--display", "x"}), 2);
  EXPECT_EQ(run({"--no-filters", "--clear"}), 0);
  ComPtr<IEnumMoniker> e;
  EXPECT_EQ(Enumerate(CLSID_VideoInputDeviceCategory, &e), S_FALSE);
}

// Through COM activation as the capture code does it (on Windows with KestrelDevEnum.dll
// registered in place of the system's enumerator), a synthetic camera binds to its filter
// and one configured to fail its bind fails with the camera's result, leaving no object.
TEST_F(DeviceEnumTest, BindingCreatesTheCameraOrFailsAsConfigured) {
  std::vector<std::string> args = {"--modules", BuildPath("tests"), "--clear", "--camera", "Good|caps=YUY2:320x240",
                                   "--camera", "Broken|fail=bind"};
  if (platform::kWindowsBuild) args.push_back("--device-enum");
  platform::Subprocess child;
  ASSERT_TRUE(child.Start(BuildPath(KESTREL_REGISTER), args));
  int code = -1;
  ASSERT_TRUE(child.Wait(test_names::kGenerousMs, &code));
  ASSERT_EQ(code, 0);

  platform::UniqueModule camera(platform::LoadModule("KestrelCam.dll"));
  ASSERT_TRUE(camera);
  int32_t (*objectCount)() = nullptr;
  ASSERT_TRUE(platform::BindModuleSymbol(camera.get(), "KestrelFilters_ObjectCount", &objectCount));
  {
    ComPtr<ICreateDevEnum> devEnum;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                               devEnum.putVoid()),
              S_OK);
    ComPtr<IEnumMoniker> e;
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, e.put(), 0), S_OK);
    ComPtr<IMoniker> good, broken;
    ASSERT_EQ(e->Next(1, good.put(), nullptr), S_OK);
    ASSERT_EQ(e->Next(1, broken.put(), nullptr), S_OK);
    EXPECT_EQ(ReadProperty(broken.get(), u"FriendlyName"), "Broken");

    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(broken->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid()), kCameraBindFailure);
    EXPECT_FALSE(filter);
    EXPECT_EQ(objectCount(), 0);

    ASSERT_EQ(good->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid()), S_OK);
    ASSERT_TRUE(filter);
    CLSID clsid{};
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, kKestrelCam));
    EXPECT_GT(objectCount(), 0);
  }
  EXPECT_EQ(objectCount(), 0);
}

}  // namespace
