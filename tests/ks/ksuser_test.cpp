// KsCreatePin is looked up once per process and kept. This program runs alone so that no
// earlier successful lookup hides what happens while ksuser.dll or its export is missing.
#include <doctest/doctest.h>

#include "ks/pin.h"
#include "ks_support.h"
#include "support/machine.h"

namespace {

HRESULT InstantiateRenderPin(const std::string& path) {
  auto filter = kstest::OpenFilter(path);
  HRESULT hr = E_FAIL;
  CKsPin pin(filter.get(), 0, &hr);
  kstest::ConnectRequest request = kstest::ConnectRequestFor(pin);
  REQUIRE(pin.SetPinConnect(&request.connect, sizeof request) == S_OK);
  return pin.Instantiate(FALSE);
}

int g_plantedCalls = 0;

DWORD WINAPI PlantedKsCreatePin(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE) {
  ++g_plantedCalls;
  return ERROR_SUCCESS;
}

// A ksuser.dll beside the host: what a bare LoadLibraryA("ksuser.dll") would load.
void PlantKsUser() {
  winsim::RegisterApplicationModule(
      "ksuser.dll", {{"KsCreatePin", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(PlantedKsCreatePin))}});
  REQUIRE(LoadLibraryA("ksuser.dll") != nullptr);  // the host's own search finds it
  REQUIRE(reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("ksuser.dll"), "KsCreatePin")) ==
          reinterpret_cast<void*>(PlantedKsCreatePin));
}

}  // namespace

TEST_CASE("a missing ksuser.dll or KsCreatePin fails every attempt; once found, the address is kept; a "
          "ksuser.dll planted beside the host is never the one used") {
  testing::Machine machine;
  const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string path = kstest::PlugFilter(kstest::MidiPort());

  // Only the system directory's ksuser.dll is looked for: with it missing, nothing is found.
  PlantKsUser();
  winsim::UnregisterModule("ksuser.dll");
  for (int attempt = 0; attempt < 2; ++attempt) {
    CAPTURE(attempt);
    winsim::ClearDebugOutput();
    CHECK(InstantiateRenderPin(path) == kNotFound);
    CHECK(kstest::Messages() == std::vector<std::string>{"Failed to instantiate pin. hr=0x80070002"});
  }

  // The library is back without its export: the module handle is found and kept.
  winsim::Reset();
  path = kstest::PlugFilter(kstest::MidiPort());
  PlantKsUser();
  winsim::RemoveModuleProc("ksuser.dll", "KsCreatePin");
  CHECK(InstantiateRenderPin(path) == kNotFound);
  CHECK(InstantiateRenderPin(path) == kNotFound);

  // With the export back, only GetProcAddress is retried: the library is not loaded again.
  winsim::Reset();
  path = kstest::PlugFilter(kstest::MidiPort());
  PlantKsUser();
  winsim::FailCall("LoadLibraryExA", ERROR_MOD_NOT_FOUND, -1);
  CHECK(InstantiateRenderPin(path) == S_OK);

  // From now on the kept address is used, whatever happens to the module.
  winsim::UnregisterModule("ksuser.dll");
  CHECK(InstantiateRenderPin(path) == S_OK);
  CHECK(winsim::InterfaceOpenCounts(path).pinOpens == 2);
  CHECK(g_plantedCalls == 0);
}
