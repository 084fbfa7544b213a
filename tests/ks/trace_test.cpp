// Trace output: the threshold, the 259-character cut, the separate line end and the entry and
// exit lines of an operation.
#include <doctest/doctest.h>

#include <string>

#include "ks/trace.h"
#include "support/machine.h"

namespace {

// The threshold this build of the layer was made with (ks/CMakeLists.txt), not the library's
// own variable: a library that ignored its setting fails here.
bool Written(int level) { return level <= KS_TRACE_LEVEL; }

// An operation as the layer traces it: by scope, leaving by one of two returns.
HRESULT TracedOperation(bool early, bool omitLeave) {
  HRESULT hr = E_FAIL;
  TraceScope trace("CKsIrpTarget::SyncIoctl()", "CKsIrpTarget::SyncIoctl", &hr);
  if (omitLeave) trace.OmitLeave();
  if (early) return hr;
  hr = S_OK;
  return hr;
}

void UntracedResult() { KS_TRACE_SCOPE("CKsIrpTarget::Close"); }

}  // namespace

TEST_CASE("the threshold is the build's own setting: 1 in the shipped library, 6 in the verbose one") {
  static_assert(KS_TRACE_LEVEL == TRACE_ERROR || KS_TRACE_LEVEL == TRACE_FLOW);
  CHECK(g_traceLevel == KS_TRACE_LEVEL);
}

TEST_CASE("a message is written, then \"\\r\\n\", exactly when its level passes the threshold") {
  testing::Machine machine;
  for (int level : {-5, 0, 1, 2, 3, 5, 6, 7}) {
    CAPTURE(level);
    winsim::ClearDebugOutput();
    TracePrintf(level, "level %d", level);
    if (Written(level)) {
      CHECK(winsim::DebugOutput() == std::vector<std::string>{"level " + std::to_string(level), "\r\n"});
    } else {
      CHECK(winsim::DebugOutput().empty());
    }
  }
}

TEST_CASE("long messages are cut to their first 259 characters") {
  testing::Machine machine;
  struct Case {
    size_t length;
    size_t written;
  };
  for (Case c : {Case{258, 258}, Case{259, 259}, Case{260, 259}, Case{300, 259}}) {
    CAPTURE(c.length);
    winsim::ClearDebugOutput();
    std::string text(c.length, 'x');
    text.back() = 'y';
    TracePrintf(TRACE_ERROR, "%s", text.c_str());
    auto output = winsim::DebugOutput();
    REQUIRE(output.size() == 2);
    CHECK(output[0] == text.substr(0, c.written));
    CHECK(output[1] == "\r\n");
  }
}

TEST_CASE("an empty format writes an empty message and the line end") {
  testing::Machine machine;
  const char* empty = "";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
#pragma GCC diagnostic ignored "-Wformat-security"
  TracePrintf(TRACE_ERROR, empty);
#pragma GCC diagnostic pop
  CHECK(winsim::DebugOutput() == std::vector<std::string>{"", "\r\n"});
}

TEST_CASE("an operation writes its entry line, and its exit line on whichever return it leaves by") {
  testing::Machine machine;
  struct Case {
    const char* what;
    bool early;
    bool omitLeave;
    std::vector<std::string> lines;
  };
  const std::string kEnter = "CKsIrpTarget::SyncIoctl() Enter";
  for (const Case& c : {Case{"early return", true, false, {kEnter, "CKsIrpTarget::SyncIoctl Leave, returning 0x80004005"}},
                        Case{"late return", false, false, {kEnter, "CKsIrpTarget::SyncIoctl Leave, returning 00000000"}},
                        Case{"exit line left out", false, true, {kEnter}}}) {
    CAPTURE(c.what);
    winsim::ClearDebugOutput();
    CHECK(TracedOperation(c.early, c.omitLeave) == (c.early ? E_FAIL : S_OK));
    std::vector<std::string> expected;
    for (const std::string& line : c.lines)
      if (Written(TRACE_FLOW)) expected.insert(expected.end(), {line, "\r\n"});
    CHECK(winsim::DebugOutput() == expected);
  }
  winsim::ClearDebugOutput();
  UntracedResult();
  std::vector<std::string> expected;
  if (Written(TRACE_FLOW)) expected = {"CKsIrpTarget::Close() Enter", "\r\n", "CKsIrpTarget::Close() Leave", "\r\n"};
  CHECK(winsim::DebugOutput() == expected);
}
