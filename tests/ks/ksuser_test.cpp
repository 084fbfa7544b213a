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

}  // namespace

TEST_CASE("a missing ksuser.dll or KsCreatePin fails every attempt; once found, the address is kept") {
  testing::Machine machine;
  const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string path = kstest::PlugFilter(kstest::MidiPort());

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
  winsim::RemoveModuleProc("ksuser.dll", "KsCreatePin");
  CHECK(InstantiateRenderPin(path) == kNotFound);
  CHECK(InstantiateRenderPin(path) == kNotFound);

  // With the export back, only GetProcAddress is retried: LoadLibraryA is not called again.
  winsim::Reset();
  path = kstest::PlugFilter(kstest::MidiPort());
  winsim::FailCall("LoadLibraryA", ERROR_MOD_NOT_FOUND, -1);
  CHECK(InstantiateRenderPin(path) == S_OK);

  // From now on the kept address is used, whatever happens to the module.
  winsim::UnregisterModule("ksuser.dll");
  CHECK(InstantiateRenderPin(path) == S_OK);
  CHECK(winsim::InterfaceOpenCounts(path).pinOpens == 2);
}
