// The handle table.
#include "runtime/handle_table.h"

#include <vector>

#include "runtime/reset.h"
#include "winsim/control.h"

namespace winsim::detail {
namespace {

struct HandleTable {
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;
  // Windows hands out a freed handle value again almost at once, so a handle used after it
  // was closed names some other object; the most recently freed value is reused first.
  std::vector<uintptr_t> freed;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

uintptr_t Untagged(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) & ~uintptr_t{3}; }

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  std::lock_guard guard(Lock());
  HandleTable& table = Table();
  uintptr_t value = table.next;
  if (table.freed.empty()) {
    table.next += 4;
  } else {
    value = table.freed.back();
    table.freed.pop_back();
  }
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  std::lock_guard guard(Lock());
  auto found = Table().objects.find(Untagged(handle));
  return found == Table().objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  std::lock_guard guard(Lock());
  auto found = Table().objects.find(Untagged(handle));
  if (found == Table().objects.end()) return nullptr;
  std::shared_ptr<KernelObject> object = std::move(found->second);
  Table().freed.push_back(found->first);
  Table().objects.erase(found);
  return object;
}

std::map<uintptr_t, std::shared_ptr<KernelObject>> TakeAllHandles() {
  std::lock_guard guard(Lock());
  Table().freed.clear();
  std::map<uintptr_t, std::shared_ptr<KernelObject>> taken;
  taken.swap(Table().objects);
  return taken;
}

}  // namespace winsim::detail

namespace winsim {

size_t LiveHandleCount() {
  std::lock_guard guard(detail::Lock());
  return detail::Table().objects.size();
}

}  // namespace winsim
