// The machine file through which a separate process shares the simulated machine: a text
// file of tagged lines whose fields are hex-encoded bytes.
#include "winsim/machine_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "machine/device_records.h"
#include "machine/driver_store.h"
#include "kernel32/file_system.h"
#include "machine/install_state.h"
#include "winsim/control.h"

namespace winsim::detail {
namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "x";  // never an empty field
  for (unsigned char byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 15]);
  }
  return out;
}

std::string Unhex(const std::string& field) {
  std::string out;
  for (size_t i = 1; i + 1 < field.size(); i += 2) out.push_back(static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Bytes(const std::vector<BYTE>& data) { return std::string(data.begin(), data.end()); }

std::string GuidBytes(const GUID& guid) { return std::string(reinterpret_cast<const char*>(&guid), sizeof guid); }

// Built without iostreams: a process writes it from an exit handler, after the libraries'
// static destructors have run.
struct Writer {
  std::string text;
  Writer& Tag(const char* tag) {
    text += tag;
    return *this;
  }
  Writer& Field(const std::string& bytes) {
    text += ' ';
    text += Hex(bytes);
    return *this;
  }
  Writer& Number(unsigned long long value) {
    text += ' ';
    text += std::to_string(value);
    return *this;
  }
  void End() { text += "\n"; }
};

std::string MachineText() {
  Writer out;
  out.Tag("cwd").Field(CurrentDirectory()).End();
  for (const FileEntry& entry : AllFileEntries()) out.Tag("file").Field(entry.path).Number(entry.directory).Field(entry.contents).End();
  for (const auto& record : AllDeviceRecords()) {
    std::lock_guard guard(Lock());
    out.Tag("record").Number(record->devInst).Field(record->instanceId).Field(GuidBytes(record->classGuid));
    out.Number(record->present).Field(record->installedInf).Field(record->installedFromInf);
    out.Field(record->installSection).Number(record->installCount).End();
    for (const auto& [property, value] : record->properties)
      out.Tag("property").Number(record->devInst).Number(property).Number(value.type).Field(Bytes(value.data)).End();
  }
  InstallState state = CurrentInstallState();
  out.Tag("state").Number(state.elevated).Number(state.restartNeeded).Number(state.pendingInstalls).End();
  for (const DriverStoreEntry& entry : StoreEntries())
    out.Tag("store").Field(entry.publishedName).Field(entry.sourcePath).Field(entry.mediaLocation).End();
  return out.text;
}

bool WriteFileText(const char* path, const std::string& text) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

struct Loaded {
  std::vector<FileEntry> files;
  std::string currentDirectory = "C:\\";
  std::vector<DeviceRecord> records;
  InstallState state;
  std::vector<DriverStoreEntry> store;
  MachineFileContents process;
};

void ReadLine(const std::string& line, Loaded* loaded) {
  std::istringstream in(line);
  std::string tag;
  in >> tag;
  if (tag == "cwd") {
    std::string path;
    in >> path;
    loaded->currentDirectory = Unhex(path);
  } else if (tag == "file") {
    std::string path, contents;
    FileEntry entry;
    in >> path >> entry.directory >> contents;
    entry.path = Unhex(path);
    entry.contents = Unhex(contents);
    loaded->files.push_back(entry);
  } else if (tag == "record") {
    DeviceRecord record;
    std::string instance, guid, inf, from, section;
    in >> record.devInst >> instance >> guid >> record.present >> inf >> from >> section >> record.installCount;
    record.instanceId = Unhex(instance);
    std::string guidBytes = Unhex(guid);
    if (guidBytes.size() == sizeof(GUID)) std::memcpy(&record.classGuid, guidBytes.data(), sizeof(GUID));
    record.installedInf = Unhex(inf);
    record.installedFromInf = Unhex(from);
    record.installSection = Unhex(section);
    loaded->records.push_back(record);
  } else if (tag == "property" && !loaded->records.empty()) {
    DEVINST devInst = 0;
    DWORD property = 0;
    RegistryValue value;
    std::string data;
    in >> devInst >> property >> value.type >> data;
    std::string bytes = Unhex(data);
    value.data.assign(bytes.begin(), bytes.end());
    for (DeviceRecord& record : loaded->records)
      if (record.devInst == devInst) record.properties[property] = value;
  } else if (tag == "state") {
    in >> loaded->state.elevated >> loaded->state.restartNeeded >> loaded->state.pendingInstalls;
  } else if (tag == "store") {
    std::string name, source, media;
    in >> name >> source >> media;
    loaded->store.push_back({Unhex(name), Unhex(source), Unhex(media)});
  } else if (tag == "debug") {
    std::string text;
    in >> text;
    loaded->process.debugOutput.push_back(Unhex(text));
  } else if (tag == "exit") {
    uint32_t code = 0;
    in >> code;
    loaded->process.exitCode = code;
  }
}

// A process started on a machine file: take the machine over at start, hand it back at exit.
void SaveAtExit(int status, void* path) {
  Writer out;
  out.text = MachineText();
  for (const std::string& text : DebugOutput()) out.Tag("debug").Field(text).End();
  out.Tag("exit").Number(static_cast<uint32_t>(status)).End();
  WriteFileText(static_cast<const char*>(path), out.text);
}

struct ProcessMachine {
  ProcessMachine() {
    const char* path = std::getenv(kMachineFileVariable);
    if (path == nullptr) return;
    // The states the exit handler reads are never destroyed (the libraries' static destructors
    // run before handlers registered this early).
    LoadMachineFile(path);
    on_exit(SaveAtExit, const_cast<char*>(path));
  }
} processMachine;

}  // namespace
}  // namespace winsim::detail

namespace winsim {

bool SaveMachineFile(const std::string& path) { return detail::WriteFileText(path.c_str(), detail::MachineText()); }

std::optional<MachineFileContents> LoadMachineFile(const std::string& path) {
  using namespace detail;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Loaded loaded;
  for (std::string line; std::getline(in, line);) ReadLine(line, &loaded);
  RestoreFileEntries(loaded.files, loaded.currentDirectory);
  RestoreDeviceRecords(loaded.records);
  RestoreInstallState(loaded.state);
  RestoreStoreEntries(loaded.store);
  return loaded.process;
}

}  // namespace winsim
