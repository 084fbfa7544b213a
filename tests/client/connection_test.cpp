// The connection as a host uses it: version, creation, hot-plug notification and teardown.
#include <doctest/doctest.h>

#include <future>
#include <set>
#include <thread>
#include <vector>

#include "client/TarrowinHiddenMIDI.h"
#include "client/c_host.h"
#include "ks/matchers.h"
#include "support/host_delete.h"
#include "support/library_copies.h"
#include "support/machine.h"
#include "support/window_messages.h"
#include "winsim/machine.h"

namespace {

const char kWindowClass[] = "TarrowinVODINotify";
const GUID kHidCategory = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct Notifications {
  std::vector<DWORD> threads;  // the thread of each call
  size_t Count() const { return threads.size(); }
};

void TARROWIN_CALLBACK Record(void* context) {
  static_cast<Notifications*>(context)->threads.push_back(GetCurrentThreadId());
}

// The module that holds an address; null once it is unloaded.
HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCSTR>(address), &module);
  return module;
}

// The class is the library's own, not the executable's.
bool ClassRegistered() {
  WNDCLASSEXA info{};
  return GetClassInfoExA(ModuleOf(reinterpret_cast<const void*>(&VODICreate)), kWindowClass, &info) != FALSE;
}

HWND NotifyWindow(HWND after = nullptr) { return FindWindowExA(HWND_MESSAGE, after, kWindowClass, nullptr); }

winsim::InterfaceDesc Interface(const GUID& category, const char* reference, winsim::FilterDesc filter = {}) {
  winsim::InterfaceDesc desc;
  desc.category = category;
  desc.reference = reference;
  desc.filter = std::move(filter);
  return desc;
}

winsim::DeviceDesc HiddenPortDevice() {
  return {"USB\\VID_1A2B&PID_0A3C&MI_01\\7&1C2D3E4F&0&0001",
          {Interface(KSCATEGORY_AUDIO, "global", winsim::HiddenMidiFilter(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1))}};
}

BOOL Matches(const GUID& subFormat) {
  std::vector<BYTE> range = winsim::MusicDataRange(subFormat);
  return HasMatchingDataRange(reinterpret_cast<const KSDATARANGE*>(range.data()), 1,
                              static_cast<ULONG>(range.size()));
}

}  // namespace

TEST_CASE("before any connection: version 1, the default matcher; VODICreate installs the hidden-port matcher") {
  testing::Machine machine;
  CHECK(VODIGetVersion() == 1);
  VODIDestroy(nullptr);
  CHECK(Matches(KSDATAFORMAT_SUBTYPE_MIDI));
  CHECK_FALSE(Matches(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1));

  TarrowinHiddenMIDI::Connection* connection = VODICreate(nullptr, nullptr);
  REQUIRE(connection != nullptr);
  CHECK(Matches(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1));
  CHECK(Matches(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_2));
  CHECK_FALSE(Matches(KSDATAFORMAT_SUBTYPE_MIDI));
  VODIDestroy(connection);
  CHECK(Matches(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1));  // destruction does not restore the default
}

TEST_CASE("one notification per arrival and per removal of each audio interface, none for other classes") {
  struct Case {
    const char* name;
    winsim::DeviceDesc device;
    size_t audioInterfaces;
  };
  std::vector<Case> cases = {
      {"hidden MIDI port", HiddenPortDevice(), 1},
      {"ordinary audio device with two audio interfaces",
       {"USB\\VID_0D8C&PID_0014\\5&2A&0&2",
        {Interface(KSCATEGORY_AUDIO, "wave", winsim::OrdinaryAudioFilter(false)),
         Interface(KSCATEGORY_AUDIO, "topology", winsim::OrdinaryAudioFilter(false))}},
       2},
      {"other interface class only", {"HID\\VID_046D&PID_C077\\7&3&0&0000", {Interface(kHidCategory, "")}}, 0},
      {"audio and another class", {"USB\\VID_0D8C&PID_0015\\5&2B&0&3",
                                   {Interface(kHidCategory, "hid"), Interface(KSCATEGORY_AUDIO, "midi")}},
       1},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    testing::Machine machine;
    Notifications seen;
    TarrowinHiddenMIDI::Connection* connection = VODICreate(Record, &seen);
    REQUIRE(connection != nullptr);
    winsim::DeviceId device = winsim::PlugDevice(c.device);
    testing::PumpMessages();
    CHECK(seen.Count() == c.audioInterfaces);
    winsim::UnplugDevice(device);
    testing::PumpMessages();
    CHECK(seen.Count() == 2 * c.audioInterfaces);
    for (DWORD thread : seen.threads) CHECK(thread == GetCurrentThreadId());
    VODIDestroy(connection);
  }
}

TEST_CASE("notifications wait for the creating thread to retrieve messages and run on that thread") {
  testing::Machine machine;
  Notifications seen;
  std::promise<DWORD> created;
  std::promise<void> plugged;
  size_t beforeRetrieval = 99;
  unsigned countBeforeRetrieval = 0;
  std::thread host([&] {
    TarrowinHiddenMIDI::Connection* connection = VODICreate(Record, &seen);
    created.set_value(GetCurrentThreadId());
    plugged.get_future().wait();
    beforeRetrieval = seen.Count();
    // Counting needs no message retrieval.
    countBeforeRetrieval = connection->GetDeviceCount();
    testing::PumpMessages();
    VODIDestroy(connection);
  });
  DWORD hostThread = created.get_future().get();
  winsim::DeviceId device = winsim::PlugDevice(HiddenPortDevice());
  // Plugging does not wait for the host, and nothing runs on this thread.
  CHECK(seen.Count() == 0);
  plugged.set_value();
  host.join();
  CHECK(beforeRetrieval == 0);
  CHECK(countBeforeRetrieval == 1);
  CHECK(seen.threads == std::vector<DWORD>{hostThread});
  winsim::UnplugDevice(device);
  CHECK_FALSE(ClassRegistered());
}

TEST_CASE("a null callback gives a working connection whose events are received and ignored") {
  testing::Machine machine;
  TarrowinHiddenMIDI::Connection* connection = VODICreate(nullptr, nullptr);
  REQUIRE(connection != nullptr);
  HWND window = NotifyWindow();
  CHECK(window != nullptr);
  winsim::DeviceId device = winsim::PlugDevice(HiddenPortDevice());
  CHECK(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_SENDMESSAGE) == WAIT_OBJECT_0);
  testing::PumpMessages();
  winsim::UnplugDevice(device);
  testing::PumpMessages();
  VODIDestroy(connection);
  CHECK_FALSE(IsWindow(window));
  CHECK_FALSE(ClassRegistered());
}

TEST_CASE("two connections are both notified; destroying the first leaves the second working") {
  testing::Machine machine;
  Notifications first, second;
  TarrowinHiddenMIDI::Connection* one = VODICreate(Record, &first);
  TarrowinHiddenMIDI::Connection* two = VODICreate(Record, &second);
  HWND window = NotifyWindow();
  CHECK(NotifyWindow(window) != nullptr);
  winsim::DeviceId device = winsim::PlugDevice(HiddenPortDevice());
  testing::PumpMessages();
  CHECK(first.Count() == 1);
  CHECK(second.Count() == 1);

  VODIDestroy(one);
  CHECK(ClassRegistered());
  winsim::UnplugDevice(device);
  testing::PumpMessages();
  CHECK(first.Count() == 1);
  CHECK(second.Count() == 2);
  VODIDestroy(two);
  CHECK_FALSE(ClassRegistered());
  CHECK(NotifyWindow() == nullptr);
}

TEST_CASE("two copies of the library from two folders: each window runs its own copy's code, and the second "
          "copy's connection and ports work on after the first copy is freed") {
  testing::Machine machine;
  testing::LibraryCopies files(2);
  testing::LibraryCopy copies[2] = {files.Load(0), files.Load(1)};
  REQUIRE(copies[0].module != nullptr);
  REQUIRE(copies[1].module != nullptr);
  CHECK(copies[0].module != copies[1].module);
  Notifications seen[2];
  TarrowinHiddenMIDI::Connection* connections[2] = {copies[0].create(Record, &seen[0]),
                                                    copies[1].create(Record, &seen[1])};
  std::set<HMODULE> owners;
  const void* firstCopyProcedure = nullptr;
  for (HWND window = NotifyWindow(); window != nullptr; window = NotifyWindow(window)) {
    const void* procedure = reinterpret_cast<const void*>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    owners.insert(ModuleOf(procedure));
    if (ModuleOf(procedure) == copies[0].module) firstCopyProcedure = procedure;
  }
  CHECK(owners == std::set<HMODULE>{copies[0].module, copies[1].module});

  copies[0].destroy(connections[0]);
  CHECK(FreeLibrary(copies[0].module));
  CHECK(ModuleOf(firstCopyProcedure) == nullptr);  // its code is gone
  winsim::DeviceDesc desc = HiddenPortDevice();
  desc.interfaces[0].filter.loopbackMidi = true;
  winsim::PlugDevice(desc);
  testing::PumpMessages();
  CHECK(seen[0].Count() == 0);
  CHECK(seen[1].Count() == 1);

  // The second copy keeps statics of its own: it looks ksuser.dll up itself.
  winsim::ResetCallCounts();
  TarrowinHiddenMIDI::Device* device = connections[1]->CreateDevice(0);
  REQUIRE(device != nullptr);
  TarrowinHiddenMIDI::Output* output = device->OpenOutput(0);
  REQUIRE(output != nullptr);
  CHECK(winsim::CallCounts()["LoadLibraryExA"] == 1);
  const unsigned char noteOn[] = {0x90, 0x40, 0x7F};
  CHECK(output->Send(noteOn, sizeof noteOn));
  testing::Destroy(output);
  testing::Destroy(device);
  copies[1].destroy(connections[1]);
  CHECK(FreeLibrary(copies[1].module));
  CHECK(NotifyWindow() == nullptr);
}

TEST_CASE("VODIDestroy on another thread leaves the window behind, and no device event reaches the freed "
          "connection") {
  testing::Machine machine;
  Notifications seen;
  TarrowinHiddenMIDI::Connection* connection = VODICreate(Record, &seen);
  REQUIRE(connection != nullptr);
  // Events already on their way to the window when the destroy runs.
  winsim::DeviceId device = winsim::PlugDevice(HiddenPortDevice());
  std::thread([&] { VODIDestroy(connection); }).join();
  HWND left = NotifyWindow();
  CHECK(left != nullptr);
  CHECK(GetWindowLongPtrA(left, GWLP_USERDATA) == 0);
  // Nor does it run the library's code, which the host may unload next.
  CHECK(GetWindowLongPtrA(left, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(DefWindowProcA));
  winsim::UnplugDevice(device);
  testing::PumpMessages();
  CHECK(seen.Count() == 0);
}

TEST_CASE("a host may destroy the connection from inside its notification") {
  testing::Machine machine;
  struct Host {
    TarrowinHiddenMIDI::Connection* connection = nullptr;
    int calls = 0;
  } host;
  host.connection = VODICreate(
      [](void* context) {
        Host* self = static_cast<Host*>(context);
        ++self->calls;
        VODIDestroy(self->connection);
      },
      &host);
  // Two interfaces: the second event is queued for a window that is gone by then.
  winsim::DeviceDesc device = HiddenPortDevice();
  device.interfaces.push_back(Interface(KSCATEGORY_AUDIO, "second"));
  winsim::PlugDevice(device);
  testing::PumpMessages();
  CHECK(host.calls == 1);
  CHECK_FALSE(ClassRegistered());
  CHECK(NotifyWindow() == nullptr);
}

TEST_CASE("a connection whose window or registration failed works without notifications") {
  for (const char* failing : {"RegisterClassExA", "CreateWindowExA", "RegisterDeviceNotificationA"}) {
    CAPTURE(failing);
    testing::Machine machine;
    winsim::FailCall(failing, ERROR_NOT_ENOUGH_MEMORY);
    Notifications seen;
    TarrowinHiddenMIDI::Connection* connection = VODICreate(Record, &seen);
    REQUIRE(connection != nullptr);
    winsim::DeviceId device = winsim::PlugDevice(HiddenPortDevice());
    testing::PumpMessages();
    CHECK(seen.Count() == 0);
    winsim::UnplugDevice(device);
    VODIDestroy(connection);
    CHECK_FALSE(ClassRegistered());
    CHECK(NotifyWindow() == nullptr);
  }
}

TEST_CASE("without memory VODICreate returns null and leaves nothing behind") {
  testing::Machine machine;
  winsim::FailAllocations(1);
  CHECK(VODICreate(Record, nullptr) == nullptr);
  CHECK_FALSE(ClassRegistered());
  CHECK(NotifyWindow() == nullptr);
}

// GCC and Clang warn on delete through a class without a virtual destructor even when its
// destroying operator delete does the work; that is what this test checks.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
TEST_CASE("a C++ host built with GCC destroys a connection with delete") {
  testing::Machine machine;
  TarrowinHiddenMIDI::Connection* connection = VODICreate(nullptr, nullptr);
  REQUIRE(connection != nullptr);
  delete connection;
  CHECK_FALSE(ClassRegistered());
  CHECK(NotifyWindow() == nullptr);
}
#pragma GCC diagnostic pop

TEST_CASE("a host written in C drives a connection through its slots") {
  testing::Machine machine;
  CHostEnvironment environment = {testing::PumpMessages,
                                  [] {
                                    winsim::DeviceDesc device = HiddenPortDevice();
                                    device.interfaces[0].filter.loopbackMidi = true;
                                    winsim::PlugDevice(device);
                                  },
                                  [] { return ClassRegistered() ? 1 : 0; }, [] { Sleep(1); }};
  CHECK(RunCHost(&environment) == 0);
}
