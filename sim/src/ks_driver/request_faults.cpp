// Requests that fail, stay pending until released, or complete late, by what they ask; the
// release and the end of pending requests.
#include <algorithm>
#include <vector>

#include "kernel32/device_io.h"
#include "winsim/control_ks.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

struct Entry {
  RequestMatch match;
  RequestFault fault;
  int times;
  int skip;
};

AreaState<std::vector<Entry>> Entries;

bool MatchesRequest(const RequestMatch& match, const RequestKey& key) {
  if (!match.interfacePath.empty() && Lower(match.interfacePath) != key.path) return false;
  if (match.ioctl != 0 && match.ioctl != key.code) return false;
  if (match.propertySet && (!key.set || !IsEqualGUID(*match.propertySet, *key.set))) return false;
  if (match.propertyId && key.id != match.propertyId) return false;
  if (match.pinId && key.pinId != match.pinId) return false;
  return true;
}

void Add(const RequestMatch& match, RequestFault fault, int times, int skip = 0) {
  std::lock_guard guard(Lock());
  Entries().push_back(Entry{match, fault, times, skip});
}

std::optional<RequestFault> Consume(const RequestKey& key, bool cancelling) {
  std::lock_guard guard(Lock());
  for (Entry& entry : Entries()) {
    if ((entry.fault.action == FaultAction::IgnoreCancel) != cancelling) continue;
    if (entry.times == 0 || !MatchesRequest(entry.match, key)) continue;
    if (entry.skip > 0) {
      --entry.skip;
      continue;
    }
    if (entry.times > 0) --entry.times;
    return entry.fault;
  }
  return std::nullopt;
}

}  // namespace

std::optional<RequestFault> ConsumeRequestFault(const RequestKey& key) { return Consume(key, false); }

bool ConsumeIgnoredCancel(const RequestKey& key) { return Consume(key, true).has_value(); }

}  // namespace winsim::detail

namespace winsim {

void FailRequests(const RequestMatch& match, DWORD error, int times, int skip) {
  detail::Add(match, {detail::FaultAction::Fail, error}, times, skip);
}

void HoldRequests(const RequestMatch& match, int times) {
  detail::Add(match, {detail::FaultAction::Hold, 0}, times);
}

void DelayRequests(const RequestMatch& match, DWORD milliseconds, int times) {
  detail::Add(match, {detail::FaultAction::Delay, milliseconds}, times);
}

void IgnoreCancellation(const RequestMatch& match, int times) {
  detail::Add(match, {detail::FaultAction::IgnoreCancel, 0}, times);
}

size_t HeldRequestCount() {
  std::lock_guard guard(detail::Lock());
  return std::count_if(detail::PendingRequestsLocked().begin(), detail::PendingRequestsLocked().end(),
                       [](const detail::PendingIo& io) { return io.answer && !io.due; });
}

void ReleaseHeldRequests() {
  std::vector<detail::EventRef> events;
  {
    std::lock_guard guard(detail::Lock());
    std::vector<std::pair<uint64_t, detail::IoAnswer>> held;
    for (const detail::PendingIo& io : detail::PendingRequestsLocked())
      if (io.answer && !io.due) held.emplace_back(io.id, *io.answer);
    for (const auto& [id, answer] : held)
      events.push_back(detail::CompleteLocked(id, detail::StatusFromError(answer.error), answer.bytes));
  }
  detail::SignalEvents(events);
}

void EndPendingRequests(const RequestMatch& match, DWORD error) {
  std::vector<detail::EventRef> events;
  {
    std::lock_guard guard(detail::Lock());
    events = detail::EndPendingLocked([&](const detail::PendingIo& io) { return detail::MatchesRequest(match, io.key); },
                                      detail::StatusFromError(error));
  }
  detail::SignalEvents(events);
}

size_t PendingRequestCount() {
  std::lock_guard guard(detail::Lock());
  return detail::PendingRequestsLocked().size();
}

}  // namespace winsim
