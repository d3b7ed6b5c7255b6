// kestrel-register: writes the registration of the stand-in filters and a camera list into
// the registry (on Linux the file named by KESTREL_REGISTRY_FILE; under Wine the prefix's
// registry), for the tests, the demo and a person trying the service out.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/device_enum.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/program.h"
#include "platform/registry.h"

namespace {

constexpr char kUsage[] =
    "usage: kestrel-register [options]\n"
    "Registers the stand-in filters (synthetic camera, \"VD Render\", MJPEG decoder) and edits\n"
    "the camera list under HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrel\\Cameras.\n"
    "  --modules DIR          folder of the filter modules (default: this program's folder)\n"
    "  --no-filters           leave the filter classes as they are\n"
    "  --device-enum          also register KestrelDevEnum.dll in place of the system device\n"
    "                         enumerator (Windows and Wine only; Linux has it built in)\n"
    "  --clear                empty the camera list first\n"
    "  --camera \"NAME|CONFIG\" add a synthetic camera with that friendly name and configuration\n"
    "                         string (see outside/filters/camera_config.h); repeatable, numbered\n"
    "                         after the cameras already listed\n"
    "  --display TEXT         display name of the camera just given (default a PnP-style\n"
    "                         \"@device:pnp:\\\\?\\usb#vid_fa57&pid_NNNN...\" path, one pid per camera)\n"
    "  --help                 this text\n"
    "It prints every key it writes. Exit code 0 on success, 1 on a registry failure, 2 on a\n"
    "bad command line.\n";

struct FilterClass {
  const char* clsid;
  const char* name;
  const char* module;  // Windows file name
};

constexpr FilterClass kFilterClasses[] = {
    {"{66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}", "Kestrel Synthetic Camera", "KestrelCam.dll"},
    {"{9651E3DA-5F84-4C96-B34C-36CB2EDA7E64}", "VD Render", "KestrelVDRender.dll"},
    {"{FA081B2E-BAAB-4C6B-99ED-3D6CFA1EA2F6}", "Quillon MJPEG Decoder", "KestrelMjpegDec.dll"},
    {"{89FC4A64-2F0D-4306-9C4A-622EA9896447}", "Quillon MJPEG Decoder", "KestrelMjpegDec.dll"},
};
constexpr FilterClass kDeviceEnumClass = {"{62BE5D10-60EB-11d0-BD3B-00A0C911CE86}", "System Device Enum",
                                          "KestrelDevEnum.dll"};
constexpr const char* kCameraClass = "{66921C7C-FC9D-4FA6-A6EE-F4FEE5219282}";

struct Camera {
  std::string friendlyName, config, display;
};

struct Options {
  std::string modules;
  bool filters = true;
  bool deviceEnum = false;
  bool clear = false;
  std::vector<Camera> cameras;
};

// 0 with the options, 1 after --help, 2 (with a message) for a bad command line.
int ParseArguments(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kestrel-register: %s needs a value\n", arg.c_str());
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 1;
    } else if (arg == "--modules") {
      if (!value(&o->modules)) return 2;
    } else if (arg == "--no-filters") {
      o->filters = false;
    } else if (arg == "--device-enum") {
      o->deviceEnum = true;
    } else if (arg == "--clear") {
      o->clear = true;
    } else if (arg == "--camera") {
      if (!value(&text)) return 2;
      const size_t bar = text.find('|');
      if (bar == 0 || text.empty()) {
        std::fprintf(stderr, "kestrel-register: --camera needs a friendly name: \"NAME|CONFIG\"\n");
        return 2;
      }
      o->cameras.push_back(Camera{text.substr(0, bar), bar == std::string::npos ? "" : text.substr(bar + 1), ""});
    } else if (arg == "--display") {
      if (!value(&text)) return 2;
      if (o->cameras.empty() || text.empty()) {
        std::fprintf(stderr, "kestrel-register: --display follows the --camera it names\n");
        return 2;
      }
      o->cameras.back().display = text;
    } else {
      std::fprintf(stderr, "kestrel-register: unknown argument %s (see --help)\n", arg.c_str());
      return 2;
    }
  }
  if (o->deviceEnum && !platform::kWindowsBuild) {
    std::fprintf(stderr, "kestrel-register: --device-enum: the device enumerator is built into the runtime here\n");
    return 2;
  }
  return 0;
}

// This program's folder.
std::string ProgramFolder() {
  char path[4096];
  if (!platform::ProgramFilePath(path, sizeof path)) return ".";
  std::string folder = path;
  const size_t slash = folder.find_last_of(platform::kPathSeparator);
  return slash == std::string::npos ? "." : folder.substr(0, slash);
}

// The module path InprocServer32 holds: the file in `folder` under its name on this system.
std::string ModulePath(const std::string& folder, const char* windowsName) {
  char mapped[260];
  const char* file = platform::MapModuleFileName(windowsName, mapped, sizeof mapped);
  return platform::JoinPath(folder, file ? file : windowsName);
}

bool Check(long rc, const std::string& what) {
  if (rc == platform::kErrorSuccess) return true;
  std::fprintf(stderr, "kestrel-register: writing %s failed (error %ld)\n", what.c_str(), rc);
  return false;
}

bool RegisterClass(const FilterClass& c, const std::string& folder) {
  const std::string key = std::string("SOFTWARE\\Classes\\CLSID\\") + c.clsid;
  const std::string server = key + "\\InprocServer32";
  const std::string module = ModulePath(folder, c.module);
  if (!platform::PathExists(module.c_str()))
    std::fprintf(stderr, "kestrel-register: warning: %s does not exist (yet)\n", module.c_str());
  const auto root = platform::RegistryRoot::LocalMachine;
  if (!Check(platform::SetRegistryString(root, key.c_str(), "", c.name), key) ||
      !Check(platform::SetRegistryString(root, server.c_str(), "", module), server) ||
      !Check(platform::SetRegistryString(root, server.c_str(), "ThreadingModel", "Both"), server))
    return false;
  std::printf("HKEY_LOCAL_MACHINE\\%s = %s\n", server.c_str(), module.c_str());
  return true;
}

// The highest number among the listed cameras' keys, 0 when there are none.
int HighestCameraNumber() {
  int highest = 0;
  for (const std::string& name : platform::RegistrySubkeys(platform::RegistryRoot::LocalMachine, media::kCameraListKey)) {
    int n = 0;
    bool digits = !name.empty() && name.size() <= 4;
    for (char ch : name) {
      digits = digits && ch >= '0' && ch <= '9';
      n = n * 10 + (ch - '0');
    }
    if (digits && n > highest) highest = n;
  }
  return highest;
}

std::string PnpDisplayName(int number) {
  char text[200];
  std::snprintf(text, sizeof text,
                "@device:pnp:\\\\?\\usb#vid_fa57&pid_%04x&mi_00#7&1b2c3d&0&%04x#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                number, number);
  return text;
}

bool AddCamera(int number, const Camera& camera) {
  char name[16];
  std::snprintf(name, sizeof name, "%04d", number);
  const std::string key = std::string(media::kCameraListKey) + "\\" + name;
  const std::string display = camera.display.empty() ? PnpDisplayName(number) : camera.display;
  const auto root = platform::RegistryRoot::LocalMachine;
  if (!Check(platform::SetRegistryString(root, key.c_str(), media::kCameraDisplayName, display), key) ||
      !Check(platform::SetRegistryString(root, key.c_str(), media::kCameraFriendlyName, camera.friendlyName), key) ||
      !Check(platform::SetRegistryString(root, key.c_str(), media::kCameraClass, kCameraClass), key) ||
      !Check(platform::SetRegistryString(root, key.c_str(), media::kCameraConfig, camera.config), key))
    return false;
  std::printf("HKEY_LOCAL_MACHINE\\%s: \"%s\" %s [%s]\n", key.c_str(), camera.friendlyName.c_str(), display.c_str(),
              camera.config.c_str());
  return true;
}

int Run(const Options& o) {
  const std::string folder = o.modules.empty() ? ProgramFolder() : o.modules;
  if (o.filters)
    for (const FilterClass& c : kFilterClasses)
      if (!RegisterClass(c, folder)) return 1;
  if (o.deviceEnum && !RegisterClass(kDeviceEnumClass, folder)) return 1;
  if (o.clear) {
    const long rc = platform::DeleteRegistryTree(platform::RegistryRoot::LocalMachine, media::kCameraListKey);
    if (rc != platform::kErrorSuccess && rc != platform::kErrorFileNotFound && !Check(rc, media::kCameraListKey)) return 1;
    std::printf("HKEY_LOCAL_MACHINE\\%s emptied\n", media::kCameraListKey);
  }
  int number = HighestCameraNumber();
  for (const Camera& camera : o.cameras)
    if (!AddCamera(++number, camera)) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = ParseArguments(argc, argv, &options);
  if (parsed == 1) return 0;
  if (parsed != 0) return parsed;
  return Run(options);
}
