// How a finished or unfinished OVERLAPPED reads back, status by status, and the calls the
// product makes on handles that name no open file.
#include "probe.h"

namespace {

struct Status {
  const char* name;
  ULONG_PTR status;
};

// NTSTATUS values a kernel-streaming request can end with.
const Status kStatuses[] = {
    {"STATUS_SUCCESS", 0x00000000},          {"STATUS_BUFFER_OVERFLOW", 0x80000005},
    {"STATUS_CANCELLED", 0xC0000120},        {"STATUS_DEVICE_NOT_CONNECTED", 0xC000009D},
    {"STATUS_BUFFER_TOO_SMALL", 0xC0000023}, {"STATUS_NOT_FOUND", 0xC0000225},
    {"STATUS_INVALID_PARAMETER", 0xC000000D}, {"STATUS_INVALID_DEVICE_REQUEST", 0xC0000010},
    {"STATUS_UNSUCCESSFUL", 0xC0000001},
};

}  // namespace

int main() {
  HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
  for (const Status& s : kStatuses) {
    OVERLAPPED overlapped = {};
    overlapped.Internal = s.status;
    overlapped.InternalHigh = 5;
    overlapped.hEvent = event;
    DWORD bytes = 77;
    SetLastError(probe::kUnset);
    std::printf("%s: ", s.name);
    probe::Result("GetOverlappedResult", GetOverlappedResult(event, &overlapped, &bytes, FALSE));
    probe::Value("  bytes", bytes);
  }
  // Still pending: the call does not wait when asked not to, and touches no count.
  OVERLAPPED pending = {};
  pending.Internal = STATUS_PENDING;
  pending.hEvent = event;
  DWORD bytes = 77;
  SetLastError(probe::kUnset);
  probe::Result("pending, no wait: GetOverlappedResult", GetOverlappedResult(event, &pending, &bytes, FALSE));
  probe::Value("  bytes", bytes);
  probe::Flag("HasOverlappedIoCompleted on pending", HasOverlappedIoCompleted(&pending));

  OVERLAPPED overlapped = {};
  DWORD returned = 77;
  SetLastError(probe::kUnset);
  probe::Result("DeviceIoControl on INVALID_HANDLE_VALUE",
                DeviceIoControl(INVALID_HANDLE_VALUE, 0x2F0003, NULL, 0, NULL, 0, &returned, &overlapped));
  probe::Value("  returned", returned);
  SetLastError(probe::kUnset);
  probe::Result("DeviceIoControl on an event",
                DeviceIoControl(event, 0x2F0003, NULL, 0, NULL, 0, &returned, &overlapped));
  SetLastError(probe::kUnset);
  probe::Result("CancelIo on an event", CancelIo(event));
  SetLastError(probe::kUnset);
  probe::Result("CancelIoEx on NULL", CancelIoEx(NULL, NULL));
  SetLastError(probe::kUnset);
  HANDLE file = CreateFileA("\\\\?\\probe#no#such#interface#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global",
                            GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, NULL);
  probe::Flag("CreateFileA of an absent interface gives INVALID_HANDLE_VALUE", file == INVALID_HANDLE_VALUE);
  probe::Value("  error", GetLastError());
  CloseHandle(event);
  return 0;
}
