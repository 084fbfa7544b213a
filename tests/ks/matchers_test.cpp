// Data-range matchers: which ranges each matcher accepts, and stepping through a block of
// ranges that comes from the driver without ever reading outside it.
#include <doctest/doctest.h>

#include <cstring>
#include <vector>

#include "ks/matchers.h"
#include "support/machine.h"

namespace {

const GUID kOtherGuid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

KSDATARANGE_MUSIC MusicRange(const GUID& subFormat, const GUID& technology = KSMUSIC_TECHNOLOGY_PORT,
                             const GUID& major = KSDATAFORMAT_TYPE_MUSIC) {
  KSDATARANGE_MUSIC range{};
  range.DataRange.FormatSize = sizeof(KSDATARANGE_MUSIC);
  range.DataRange.MajorFormat = major;
  range.DataRange.SubFormat = subFormat;
  range.Technology = technology;
  return range;
}

// Ranges laid out back to back, each padded to 8 bytes, in a block of exactly that size.
struct RangeBlock {
  std::vector<BYTE> bytes;

  void Add(const void* range, size_t copied, ULONG formatSize) {
    size_t offset = bytes.size();
    bytes.resize(offset + ((formatSize + 7u) & ~7u));
    std::memcpy(bytes.data() + offset, range, copied);
    reinterpret_cast<KSDATARANGE*>(bytes.data() + offset)->FormatSize = formatSize;
  }
  void Add(const KSDATARANGE_MUSIC& range) { Add(&range, sizeof range, sizeof range); }
  const KSDATARANGE* First() const { return reinterpret_cast<const KSDATARANGE*>(bytes.data()); }
  ULONG Size() const { return static_cast<ULONG>(bytes.size()); }
};

int g_matcherCalls = 0;
BOOL CountingMatcher(const KSDATARANGE*) {
  ++g_matcherCalls;
  return FALSE;
}

// Puts the default matcher back after each test: the matcher is process-wide.
struct MatcherGuard {
  ~MatcherGuard() { SetDataRangeMatcher(IsMidiPortDataRange); }
};

}  // namespace

TEST_CASE("each matcher accepts exactly its subformats with music and port technology") {
  struct Case {
    const char* name;
    KSDATARANGE_MUSIC range;
    BOOL midiPort;
    BOOL hidden;
  };
  const Case cases[] = {
      {"ordinary MIDI", MusicRange(KSDATAFORMAT_SUBTYPE_MIDI), TRUE, FALSE},
      {"hidden 1", MusicRange(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1), FALSE, TRUE},
      {"hidden 2", MusicRange(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_2), FALSE, TRUE},
      {"hidden 2, synth technology", MusicRange(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_2, KSMUSIC_TECHNOLOGY_SYNTH), FALSE,
       FALSE},
      {"MIDI, synth technology", MusicRange(KSDATAFORMAT_SUBTYPE_MIDI, KSMUSIC_TECHNOLOGY_SYNTH), FALSE, FALSE},
      {"hidden 1, other major format",
       MusicRange(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1, KSMUSIC_TECHNOLOGY_PORT, kOtherGuid), FALSE, FALSE},
      {"other subformat", MusicRange(kOtherGuid), FALSE, FALSE},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    const KSDATARANGE* range = &c.range.DataRange;
    CHECK(IsMidiPortDataRange(range) == c.midiPort);
    CHECK(IsHiddenMidiDataRange(range) == c.hidden);
  }
}

TEST_CASE("a hidden subformat differing in one byte is rejected") {
  GUID almost = KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1;
  almost.Data4[7] ^= 1;
  KSDATARANGE_MUSIC range = MusicRange(almost);
  CHECK_FALSE(IsHiddenMidiDataRange(&range.DataRange));
}

TEST_CASE("SetDataRangeMatcher installs a matcher and keeps it on null") {
  MatcherGuard guard;
  RangeBlock block;
  block.Add(MusicRange(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1));
  CHECK_FALSE(HasMatchingDataRange(block.First(), 1, block.Size()));
  SetDataRangeMatcher(IsHiddenMidiDataRange);
  CHECK(HasMatchingDataRange(block.First(), 1, block.Size()));
  SetDataRangeMatcher(nullptr);
  CHECK(HasMatchingDataRange(block.First(), 1, block.Size()));
}

TEST_CASE("HasMatchingDataRange steps by each range's aligned FormatSize") {
  MatcherGuard guard;
  KSDATARANGE_MUSIC midi = MusicRange(KSDATAFORMAT_SUBTYPE_MIDI);
  KSDATARANGE_MUSIC other = MusicRange(kOtherGuid);
  KSDATARANGE plain{};
  plain.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;

  SUBCASE("the match is found behind longer and shorter ranges") {
    RangeBlock block;
    block.Add(&other, sizeof other, sizeof other + 5);  // longer range, padded to 104
    block.Add(&plain, sizeof plain, sizeof plain);      // too short to be a music range
    block.Add(midi);
    CHECK(HasMatchingDataRange(block.First(), 3, block.Size()));
    CHECK_FALSE(HasMatchingDataRange(block.First(), 2, block.Size()));
  }
  SUBCASE("count 0 asks nothing") {
    RangeBlock block;
    block.Add(midi);
    SetDataRangeMatcher(CountingMatcher);
    g_matcherCalls = 0;
    CHECK_FALSE(HasMatchingDataRange(block.First(), 0, block.Size()));
    CHECK(g_matcherCalls == 0);
    CHECK_FALSE(HasMatchingDataRange(block.First(), 1, block.Size()));
    CHECK(g_matcherCalls == 1);
  }
}

TEST_CASE("ranges that do not fit the block are never read") {
  MatcherGuard guard;
  KSDATARANGE_MUSIC midi = MusicRange(KSDATAFORMAT_SUBTYPE_MIDI);
  SetDataRangeMatcher(CountingMatcher);
  struct Case {
    const char* name;
    ULONG formatSize;
    size_t blockSize;
    ULONG count;
  };
  const Case cases[] = {
      {"FormatSize past the block", 4096, sizeof midi, 1},
      {"FormatSize 0", 0, sizeof midi, 5},
      {"FormatSize below a bare range", 8, sizeof midi, 5},
      {"block shorter than a music range", sizeof midi, sizeof(KSDATARANGE) + 8, 1},
      {"count larger than the block holds", sizeof midi, sizeof midi, 1000},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    // Exactly blockSize bytes on the heap, so that a sanitizer sees any read past them.
    std::vector<BYTE> block(c.blockSize);
    std::memcpy(block.data(), &midi, std::min(sizeof midi, c.blockSize));
    reinterpret_cast<KSDATARANGE*>(block.data())->FormatSize = c.formatSize;
    g_matcherCalls = 0;
    HasMatchingDataRange(reinterpret_cast<const KSDATARANGE*>(block.data()), c.count,
                         static_cast<ULONG>(block.size()));
    CHECK(g_matcherCalls <= 1);
  }
}
