// A sample host application for the hidden MIDI client library. It loads the library at run
// time as any Windows host does, lists the devices, opens one device's input and output,
// prints what arrives and sends what it is asked to. When the library reports that audio
// devices came or went, it counts again, closes what is gone and reopens what came back.
//
//   sample_host            reads commands from standard input ("help" lists them)
//   sample_host --script   runs a short scripted session and exits 0 when all went well
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "TarrowinHiddenMIDI.h"
#include "delete_through_interface.h"
#include "machine_control.h"
#include "midi_decoder.h"
#include "platform/win32.h"

namespace {

using namespace TarrowinHiddenMIDI;

const char* const kLibraryName = sizeof(void*) == 8 ? "portlink64.dll" : "portlink32.dll";
const DWORD kEchoTimeoutMs = 5000;
const DWORD kNotifyTimeoutMs = 5000;

// The library's three exports, resolved by name.
struct Library {
  HMODULE module = NULL;
  VODICreateFunction create = NULL;
  VODIDestroyFunction destroy = NULL;
  VODIGetVersionFunction getVersion = NULL;

  bool Load() {
    module = LoadLibraryA(kLibraryName);
    if (module == NULL) return false;
    create = reinterpret_cast<VODICreateFunction>(reinterpret_cast<void*>(GetProcAddress(module, "VODICreate")));
    destroy = reinterpret_cast<VODIDestroyFunction>(reinterpret_cast<void*>(GetProcAddress(module, "VODIDestroy")));
    getVersion =
        reinterpret_cast<VODIGetVersionFunction>(reinterpret_cast<void*>(GetProcAddress(module, "VODIGetVersion")));
    return create != NULL && destroy != NULL && getVersion != NULL;
  }
};

// What the receive thread hands over. Only the receive thread writes the decoder; the main
// thread reads the counters.
struct Reception {
  std::atomic<unsigned> bytes{0};
  std::atomic<unsigned> checksum{0};
  MidiDecoder decoder;
};

std::atomic<unsigned> g_notifications{0};

void TARROWIN_CALLBACK OnAudioDevicesChanged(void*) { ++g_notifications; }

void TARROWIN_CALLBACK OnMidiReceived(const unsigned char* data, unsigned int count, void* context) {
  Reception* reception = static_cast<Reception*>(context);
  std::string line = "  received ";
  char hex[4];
  for (unsigned i = 0; i < count; ++i) {
    std::snprintf(hex, sizeof hex, "%02X ", data[i]);
    line += hex;
  }
  std::vector<std::string> messages = reception->decoder.Feed(data, count);
  line.resize(std::max<size_t>(line.size(), 50), ' ');
  for (const std::string& message : messages) line += "| " + message + " ";
  // A long SysEx arrives as many small records: show only the records that end something.
  bool quietSysEx = messages.empty() && count > 0 && data[0] < 0x80;
  if (!quietSysEx) std::printf("%s\n", line.c_str());
  unsigned sum = reception->checksum.load();
  for (unsigned i = 0; i < count; ++i) sum = sum * 31 + data[i];
  reception->checksum.store(sum);
  reception->bytes.fetch_add(count);
}

unsigned Checksum(const std::vector<unsigned char>& bytes, unsigned sum) {
  for (unsigned char byte : bytes) sum = sum * 31 + byte;
  return sum;
}

class Session {
 public:
  Session(Library& library, bool echoCommands) : m_library(library), m_echoCommands(echoCommands) {}

  bool Start() {
    std::printf("Interface version %d\n", m_library.getVersion());
    m_connection = m_library.create(OnAudioDevicesChanged, NULL);
    return m_connection != NULL;
  }

  void Stop() {
    Close();
    m_library.destroy(m_connection);
    m_connection = NULL;
  }

  bool Execute(const std::string& line);
  bool failed() const { return m_failed; }

 private:
  bool List();
  bool Open(int index);
  void Close();
  bool Send(const std::vector<unsigned char>& bytes, const char* what);
  bool ExpectEcho();
  bool HotPlug(bool unplug);
  // Retrieves and dispatches window messages until `condition` holds or the time is up.
  template <typename Condition>
  bool Pump(Condition condition, DWORD timeoutMs);
  void HandleNotifications();
  bool Fail(const char* message) {
    std::printf("  FAILED: %s\n", message);
    m_failed = true;
    return false;
  }

  Library& m_library;
  Connection* m_connection = NULL;
  Device* m_device = NULL;
  Input* m_input = NULL;
  Output* m_output = NULL;
  int m_openIndex = -1;
  int m_wantedIndex = -1;  // reopened when it comes back
  Reception* m_reception = NULL;
  unsigned m_sentBytes = 0;
  unsigned m_sentChecksum = 0;
  unsigned m_seenNotifications = 0;
  bool m_echoCommands;
  bool m_failed = false;
};

template <typename Condition>
bool Session::Pump(Condition condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    HandleNotifications();
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(5);
  }
}

void Session::HandleNotifications() {
  unsigned notifications = g_notifications.load();
  if (notifications == m_seenNotifications) return;
  std::printf("  notification: audio devices changed (%u so far)\n", notifications);
  m_seenNotifications = notifications;
  if (m_output != NULL && !m_output->IsPresent()) {
    std::printf("  device %d is gone: closing its ports\n", m_openIndex);
    Close();
  }
  unsigned count = m_connection->GetDeviceCount();
  std::printf("  %u device(s) with a hidden MIDI port\n", count);
  if (m_device == NULL && m_wantedIndex >= 0 && static_cast<unsigned>(m_wantedIndex) < count) {
    std::printf("  device %d is back: reopening\n", m_wantedIndex);
    Open(m_wantedIndex);
  }
}

bool Session::List() {
  unsigned count = m_connection->GetDeviceCount();
  std::printf("  %u device(s) with a hidden MIDI port\n", count);
  for (unsigned i = 0; i < count; ++i) {
    Device* device = m_connection->CreateDevice(static_cast<int>(i));
    if (device == NULL) continue;
    std::printf("  [%u] %-32s product 0x%04X  inputs %d  outputs %d\n", i,
                *device->GetName() ? device->GetName() : "(no name)", device->GetProductId(),
                device->GetInputCount(), device->GetOutputCount());
    Destroy(device);
  }
  return true;
}

bool Session::Open(int index) {
  Close();
  m_device = m_connection->CreateDevice(index);
  if (m_device == NULL) return Fail("no such device");
  m_reception = new Reception;
  m_input = m_device->OpenInput(0);
  m_output = m_device->OpenOutput(0);
  if (m_input == NULL || m_output == NULL) return Fail("the device's ports could not be opened");
  m_input->SetCallback(OnMidiReceived, m_reception);
  m_openIndex = m_wantedIndex = index;
  m_sentBytes = 0;
  m_sentChecksum = 0;
  std::printf("  opened device %d, \"%s\": input and output ready\n", index, m_device->GetName());
  return true;
}

void Session::Close() {
  // Ports first, then the device, as the library expects.
  Destroy(m_input);
  Destroy(m_output);
  Destroy(m_device);
  delete m_reception;
  m_input = NULL;
  m_output = NULL;
  m_device = NULL;
  m_reception = NULL;
  m_openIndex = -1;
}

bool Session::Send(const std::vector<unsigned char>& bytes, const char* what) {
  if (m_output == NULL) return Fail("no device is open");
  std::printf("  sending %s (%zu bytes)\n", what, bytes.size());
  m_output->Send(bytes.data(), static_cast<int>(bytes.size()));
  m_sentBytes += static_cast<unsigned>(bytes.size());
  m_sentChecksum = Checksum(bytes, m_sentChecksum);
  return true;
}

bool Session::ExpectEcho() {
  if (m_reception == NULL) return Fail("no device is open");
  Reception* reception = m_reception;
  unsigned expected = m_sentBytes;
  if (!Pump([&] { return reception->bytes.load() >= expected; }, kEchoTimeoutMs))
    return Fail("the device did not send back what it was sent");
  if (reception->bytes.load() != expected || reception->checksum.load() != m_sentChecksum)
    return Fail("the bytes that came back differ from those sent");
  std::printf("  all %u bytes sent came back unchanged\n", expected);
  return true;
}

bool Session::HotPlug(bool unplug) {
  if (!machine_control::CanScriptHotplug()) {
    std::printf("  %s the device now; waiting for the notification\n", unplug ? "Unplug" : "Plug in");
  } else {
    std::printf("  %s the hidden-port device\n", unplug ? "unplugging" : "plugging in");
    unplug ? machine_control::UnplugHiddenPortDevice() : machine_control::ReplugHiddenPortDevice();
  }
  unsigned before = g_notifications.load();
  if (!Pump([&] { return g_notifications.load() != before; }, kNotifyTimeoutMs))
    return Fail("no notification arrived");
  return true;
}

std::vector<unsigned char> ParseHex(std::istringstream& words) {
  std::vector<unsigned char> bytes;
  std::string word;
  while (words >> word) bytes.push_back(static_cast<unsigned char>(std::strtoul(word.c_str(), NULL, 16)));
  return bytes;
}

std::vector<unsigned char> SysEx(unsigned length) {
  std::vector<unsigned char> bytes(length < 2 ? 2 : length);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

bool Session::Execute(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  if (command.empty() || command[0] == '#') return true;
  if (m_echoCommands) std::printf("> %s\n", line.c_str());
  if (command == "list") return List();
  if (command == "open") {
    int index = 0;
    words >> index;
    return Open(index);
  }
  if (command == "close") {
    Close();
    m_wantedIndex = -1;
    return true;
  }
  if (command == "send") return Send(ParseHex(words), "MIDI");
  if (command == "sysex") {
    unsigned length = 0;
    words >> length;
    return Send(SysEx(length), "a SysEx message");
  }
  if (command == "echo") return ExpectEcho();
  if (command == "unplug") return HotPlug(true);
  if (command == "replug") return HotPlug(false);
  if (command == "wait") {
    DWORD ms = 0;
    words >> ms;
    Pump([] { return false; }, ms);
    return true;
  }
  if (command == "help") {
    std::printf("  list | open N | close | send HEX.. | sysex LENGTH | echo | unplug | replug | wait MS | quit\n");
    return true;
  }
  std::printf("  unknown command; try help\n");
  return true;
}

const char* const kScript[] = {
    "list",
    "open 0",
    "send 90 3C 64",
    "send 80 3C 00",
    "send B0 07 64 C0 05 E0 00 48",
    "echo",
    "sysex 1300",
    "echo",
    "unplug",
    "replug",
    "send 90 40 7F 80 40 00",
    "echo",
    "close",
};

}  // namespace

int main(int argc, char** argv) {
  bool scripted = argc > 1 && std::strcmp(argv[1], "--script") == 0;
  std::setvbuf(stdout, NULL, _IONBF, 0);
  machine_control::Prepare();

  Library library;
  if (!library.Load()) {
    std::printf("Cannot load %s or find its exports\n", kLibraryName);
    return 1;
  }
  Session session(library, scripted);
  if (!session.Start()) {
    std::printf("VODICreate failed\n");
    return 1;
  }
  if (scripted) {
    for (const char* line : kScript)
      if (!session.Execute(line)) break;
  } else {
    std::string line;
    while (std::printf("> "), std::getline(std::cin, line) && line != "quit") session.Execute(line);
  }
  session.Stop();
  FreeLibrary(library.module);
  std::printf(session.failed() ? "Session FAILED\n" : "Session complete\n");
  return session.failed() ? 1 : 0;
}
