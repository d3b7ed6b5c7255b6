// Capture device discovery: the name and allow-list filters on their own, then the whole
// enumeration against the system device enumerator and synthetic cameras registered in the
// test's registry.
#include "graph/capture_devices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "graph/capture_graph.h"
#include "platform/text.h"
#include "tests/graph/camera_env.h"

namespace {

std::vector<std::unique_ptr<char16_t[]>> Fragments(std::initializer_list<std::u16string_view> texts) {
  std::vector<std::unique_ptr<char16_t[]>> out;
  for (std::u16string_view t : texts) {
    auto entry = std::make_unique<char16_t[]>(kDevicePathChars);
    std::copy(t.begin(), t.end(), entry.get());
    out.push_back(std::move(entry));
  }
  return out;
}

TEST(CaptureDevices, OwnVirtualCamerasAreKnownInAnyLetterCase) {
  struct Case {
    const char16_t* name;
    bool own;
  } cases[] = {
      {u"Quillon Virtual Camera Driver", true},
      {u"QUILLON VIRTUAL CAMERA DRIVER", true},
      {u"lumen-x virtual capture", true},
      {u"Quillon Velmora", true},
      {u"quillon velmorA", true},
      {u"Quillon Velmora 2", false},
      {u"Quillon", false},
      {u"USB Video Device", false},
      {u"", false},
      {nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)) : "null");
    EXPECT_EQ(IsOwnVirtualDevice(c.name), c.own);
  }
}

TEST(CaptureDevices, AllowListMatchesFragmentsAnywhereInThePath) {
  const auto fragments = Fragments({u"", u"VID_046D&PID_0825", u"usb#vid_fa57"});
  const auto empties = Fragments({u""});
  const char16_t* logitech = u"@device:pnp:\\\\?\\usb#vid_046d&pid_0825&mi_00#6&1a2b#{65e8773d}\\global";
  const char16_t* kestrel = u"@device:pnp:\\\\?\\USB#VID_FA57&PID_0001&MI_00#7&1B2C3D";
  const char16_t* other = u"@device:pnp:\\\\?\\usb#vid_1234&pid_5678";
  struct Case {
    const char* name;
    int32_t enabled;
    const std::vector<std::unique_ptr<char16_t[]>>* list;
    const char16_t* path;
    bool matches;
    bool allowed;
  } cases[] = {
      {"fragment in other case", 1, &fragments, logitech, true, true},
      {"second fragment", 1, &fragments, kestrel, true, true},
      {"no fragment matches", 1, &fragments, other, false, false},
      {"switched off allows all", 0, &fragments, other, false, true},
      {"empty fragments match nothing", 1, &empties, other, false, false},
      {"empty path", 1, &fragments, u"", false, false},
      {"null path", 1, &fragments, nullptr, false, false},
      {"null path, switched off", 0, &fragments, nullptr, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DeviceAllowList allowList{c.enabled, c.list};
    EXPECT_EQ(MatchesAllowList(allowList, c.path), c.matches);
    EXPECT_EQ(IsDeviceAllowed(allowList, c.path), c.allowed);
  }
}

// A property bag that remembers the variant each Read was handed, and then either fails
// without writing to it or answers a string.
class InspectingBag final : public IPropertyBag {
 public:
  explicit InspectingBag(const char16_t* answer) : answer_(answer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IPropertyBag)) return E_NOINTERFACE;
    *out = static_cast<IPropertyBag*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the test's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!name || !value) return E_POINTER;
    ++reads;
    seenType = value->vt;
    // A string slot is only looked at when the type says there is one.
    seenString = value->vt == VT_BSTR ? reinterpret_cast<uintptr_t>(value->bstrVal) : 0;
    if (!answer_) {
      // Fails, writing nothing. A caller that handed in a string it does not own would now
      // free it in VariantClear; the type is emptied here so that the test reports that
      // instead of the test program crashing on it.
      if (seenString != 0) value->vt = VT_EMPTY;
      return E_FAIL;
    }
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(media::AsOle(answer_));
    return value->bstrVal ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

  int reads = 0;
  VARTYPE seenType = VT_NULL;
  uintptr_t seenString = 1;

 private:
  const char16_t* answer_;
};

// Fills a stretch of the stack below the caller's frame with a pattern, so that a variable a
// function called next leaves unset holds the pattern rather than what an earlier call left
// there (often zero).
[[gnu::noinline]] void DirtyTheStack() {
  volatile unsigned char junk[8192];
  for (size_t i = 0; i < sizeof junk; ++i) junk[i] = 0xA5;
}

// The name is read into a variant that holds nothing the caller could be made to free: a
// bag that fails without writing leaves the name empty and nothing freed that was never
// allocated. VariantInit promises to set the type only, as the Linux runtime's does (Wine's,
// like recent Windows', zeroes the whole variant and so hides a missing string reset).
TEST(CaptureDevices, FriendlyNameIsReadIntoAVariantHoldingNoString) {
  struct Case {
    const char* name;
    const char16_t* answer;  // null: Read fails
    std::u16string friendly;
  } cases[] = {
      {"Read fails", nullptr, u""},
      {"Read answers", u"Desk camera", u"Desk camera"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InspectingBag bag(c.answer);
    char16_t friendly[kDevicePathChars];
    friendly[0] = u'x';
    DirtyTheStack();
    ReadFriendlyName(&bag, friendly);
    EXPECT_EQ(std::u16string(friendly), c.friendly);
    EXPECT_EQ(bag.reads, 1);
    EXPECT_TRUE(bag.seenType == VT_EMPTY || bag.seenType == VT_BSTR) << bag.seenType;
    EXPECT_EQ(bag.seenString, 0u) << "Read was handed a string the caller does not own";
  }
}

}  // namespace

namespace {

// Cameras in the test's registry, found through the system device enumerator.
class DeviceDiscoveryTest : public test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    test::ClearCameras();
    test::RegisterFilters();
  }
  void TearDown() override {
    test::ClearCameras();
    CoUninitialize();
    ScratchTest::TearDown();
  }
  // The width of the chosen camera's first capability: which camera it is. 0 without one.
  static int32_t ChosenWidth(const DeviceAllowList& allowList, HRESULT* hr) {
    IBaseFilter* raw = reinterpret_cast<IBaseFilter*>(1);
    *hr = GetCaptureDevice(allowList, &raw);
    media::ComPtr<IBaseFilter> filter = media::ComPtr<IBaseFilter>::Attach(raw);
    if (!filter) return 0;
    media::ComPtr<IPin> pin;
    if (!FindPinByDirection(filter.get(), pin.put(), PINDIR_OUTPUT)) return -1;
    media::ComPtr<IAMStreamConfig> config;
    if (FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.putVoid()))) return -1;
    media::UniqueMediaType type;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    if (FAILED(config->GetStreamCaps(0, type.put(), reinterpret_cast<BYTE*>(&caps))) || !type) return -1;
    const BITMAPINFOHEADER* header = media::VideoBitmapHeader(*type.get());
    return header ? header->biWidth : -1;
  }
};

struct Cam {
  std::string display, friendly, config;
};

std::string Caps(int width) { return "caps=YUY2:" + std::to_string(width) + "x240"; }

TEST_F(DeviceDiscoveryTest, ChoosesTheFirstUsableCamera) {
  const auto vidFragment = Fragments({u"VID_FA57"});
  const auto nothing = Fragments({u"vid_0bad"});
  const std::string soft = "@device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\usb#vid_fa57&pid_0009";
  struct Case {
    const char* name;
    std::vector<Cam> cams;
    const std::vector<std::unique_ptr<char16_t[]>>* allow;  // null: list switched off
    HRESULT hr;
    int32_t width;
  } cases[] = {
      {"the first of two", {{test::UsbPath(1), "A", Caps(320)}, {test::UsbPath(2), "B", Caps(640)}}, nullptr, S_OK, 320},
      {"device:sw skipped though allow-listed", {{soft, "Soft", Caps(320)}, {test::UsbPath(2), "B", Caps(640)}}, &vidFragment, S_OK, 640},
      {"only a software device", {{soft, "Soft", Caps(320)}}, nullptr, E_FAIL, 0},
      {"own virtual cameras in any case",
       {{test::UsbPath(1), "QUILLON virtual camera DRIVER", Caps(320)},
        {test::UsbPath(2), "lumen-x VIRTUAL capture", Caps(352)},
        {test::UsbPath(3), "quillon velmora", Caps(384)},
        {test::UsbPath(4), "Quillon Velmora HD", Caps(640)}},
       nullptr, S_OK, 640},
      {"a tuner skipped", {{test::UsbPath(1), "Tuner", Caps(320) + ";tuner=1"}, {test::UsbPath(2), "B", Caps(640)}}, nullptr, S_OK, 640},
      {"no vid skipped", {{"@device:pnp:\\\\?\\pci#ven_1234&dev_5678", "Card", Caps(320)}, {test::UsbPath(2), "B", Caps(640)}}, nullptr, S_OK, 640},
      {"unbindable skipped", {{test::UsbPath(1), "Broken", Caps(320) + ";fail=bind"}, {test::UsbPath(2), "B", Caps(640)}}, nullptr, S_OK, 640},
      {"allow-list matching nothing", {{test::UsbPath(1), "A", Caps(320)}, {test::UsbPath(2), "B", Caps(640)}}, &nothing, E_FAIL, 0},
      {"no camera", {}, nullptr, E_FAIL, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ClearCameras();
    for (size_t i = 0; i < c.cams.size(); ++i) {
      char number[8];
      std::snprintf(number, sizeof number, "%04u", static_cast<unsigned>(i + 1));
      test::AddCamera(number, c.cams[i].display, c.cams[i].friendly, c.cams[i].config);
    }
    const DeviceAllowList allowList{c.allow ? 1 : 0, c.allow};
    for (int round = 0; round < 2; ++round) {  // the same answer every time
      HRESULT hr = S_OK;
      EXPECT_EQ(ChosenWidth(allowList, &hr), c.width);
      EXPECT_EQ(hr, c.hr);
    }
  }
}

TEST_F(DeviceDiscoveryTest, FriendlyNamesOfCandidatesGoToTheLog) {
  test::SetDword("SOFTWARE\\Quillon\\OruVCapture\\", "Log", 1);
  test::AddCamera("0001", "@device:sw:{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\vid_1", "Soft device", Caps(320));
  test::AddCamera("0002", test::UsbPath(2), "Tuner camera", Caps(320) + ";tuner=1");
  test::AddCamera("0003", test::UsbPath(3), "Quillon Velmora", Caps(320));
  test::AddCamera("0004", test::UsbPath(4), "Desk camera", Caps(640));
  std::vector<CaptureDeviceCandidate> list;
  ASSERT_TRUE(EnumerateCaptureDevices(DeviceAllowList{}, list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(std::u16string(list[0].devicePath), platform::Utf8ToUtf16(test::UsbPath(4)));
  list.clear();
  const std::string log = test::ReadBytes(test::NativeFile("c:\\QuillonVCapture.log")).value_or("");
  EXPECT_NE(log.find("KESTREL - Tuner camera"), std::string::npos) << log;
  EXPECT_NE(log.find("KESTREL - Quillon Velmora"), std::string::npos) << log;
  EXPECT_NE(log.find("KESTREL - Desk camera"), std::string::npos) << log;
  EXPECT_EQ(log.find("Soft device"), std::string::npos) << log;
}

TEST_F(DeviceDiscoveryTest, LongDevicePathsAreCutTo259Characters) {
  const std::string path = test::UsbPath(1) + std::string(400, 'x');
  test::AddCamera("0001", path, "Long", Caps(320));
  std::vector<CaptureDeviceCandidate> list;
  ASSERT_TRUE(EnumerateCaptureDevices(DeviceAllowList{}, list));
  EXPECT_EQ(std::u16string(list[0].devicePath), platform::Utf8ToUtf16(path.substr(0, 259)));
}

}  // namespace
