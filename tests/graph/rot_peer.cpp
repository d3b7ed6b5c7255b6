// Second process for the running-object-table test: whether the item moniker "!" NAME is
// registered in the table this process sees. Exit code 0 registered, 1 not, 2 on an error.
#include "media/com_ptr.h"
#include "media/dshow.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  int code = 2;
  {
    media::ComPtr<IRunningObjectTable> rot;
    media::ComPtr<IMoniker> moniker;
    const std::u16string name = platform::Utf8ToUtf16(argv[1]);
    if (SUCCEEDED(GetRunningObjectTable(0, rot.put())) && rot &&
        SUCCEEDED(CreateItemMoniker(OLESTR("!"), media::AsOle(name.c_str()), moniker.put()))) {
      const HRESULT hr = rot->IsRunning(moniker.get());
      code = hr == S_OK ? 0 : hr == S_FALSE ? 1 : 2;
    }
  }
  CoUninitialize();
  return code;
}
