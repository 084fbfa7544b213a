#include "campaign/stream_pattern.h"

#include <algorithm>
#include <cstdio>

namespace campaign {
namespace {

const int kSymbols = 128;

// A de Bruijn sequence of order 2 over 128 symbols: every ordered pair occurs exactly once.
void Extend(int t, int p, std::vector<int>& a, std::vector<Byte>& out) {
  if (t > 2) {
    if (2 % p == 0)
      for (int j = 1; j <= p; ++j) out.push_back(static_cast<Byte>(a[j]));
    return;
  }
  a[t] = a[t - p];
  Extend(t + 1, p, a, out);
  for (int j = a[t - p] + 1; j < kSymbols; ++j) {
    a[t] = j;
    Extend(t + 1, t, a, out);
  }
}

const std::vector<Byte>& Sequence() {
  static const std::vector<Byte> sequence = [] {
    std::vector<int> a(3, 0);
    std::vector<Byte> out;
    Extend(1, 1, a, out);
    return out;
  }();
  return sequence;
}

std::string Describe(const std::vector<Byte>& record) {
  std::string text = std::to_string(record.size()) + " bytes:";
  char hex[4];
  for (size_t i = 0; i < record.size() && i < 12; ++i) {
    std::snprintf(hex, sizeof hex, " %02x", record[i]);
    text += hex;
  }
  return text;
}

// Each device's stream has its own values (its device bits), so a byte of another shows at once.
bool Foreign(const std::vector<Byte>& record, const std::vector<Byte>& sent, Byte deviceBits) {
  if (sent.empty()) return true;
  Byte own = sent.front() & deviceBits;
  return std::any_of(record.begin(), record.end(), [=](Byte b) { return (b & deviceBits) != own; });
}

}  // namespace

std::vector<Byte> StreamBytes(int device, size_t offset, size_t count) {
  const std::vector<Byte>& sequence = Sequence();
  std::vector<Byte> bytes(count);
  for (size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<Byte>(sequence[(offset + i) % sequence.size()] | (device == 0 ? 0x00 : 0x80));
  return bytes;
}

std::string CheckPieces(const std::vector<std::vector<Byte>>& records, const std::vector<Byte>& sent,
                        size_t* delivered, size_t* gaps, Byte deviceBits) {
  size_t position = 0, total = 0, missing = 0;
  for (size_t r = 0; r < records.size(); ++r) {
    const std::vector<Byte>& record = records[r];
    if (record.empty()) return "record " + std::to_string(r) + " is empty";
    if (Foreign(record, sent, deviceBits))
      return "record " + std::to_string(r) + " (" + Describe(record) + ") holds bytes of another device's stream";
    // The earliest place that fits leaves the most room for the records after it.
    auto found = std::search(sent.begin() + static_cast<long>(position), sent.end(), record.begin(), record.end());
    if (found == sent.end())
      return "record " + std::to_string(r) + " (" + Describe(record) + ") is no piece of what was sent after byte " +
             std::to_string(position) + ": repeated or changed";
    if (static_cast<size_t>(found - sent.begin()) != position) ++missing;
    position = static_cast<size_t>(found - sent.begin()) + record.size();
    total += record.size();
  }
  if (delivered) *delivered = total;
  if (gaps) *gaps = missing;
  return "";
}

}  // namespace campaign
