// Trace output: the threshold, the 259-character cut and the separate line end.
#include <doctest/doctest.h>

#include <string>

#include "ks/trace.h"
#include "support/machine.h"

namespace {

bool Written(int level) { return level <= g_traceLevel; }

}  // namespace

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

TEST_CASE("entry and exit lines use the shared formats") {
  testing::Machine machine;
  KS_TRACE_ENTER("CKsIrpTarget::SyncIoctl");
  KS_TRACE_LEAVE_HR("CKsIrpTarget::SyncIoctl", E_FAIL);
  KS_TRACE_LEAVE_HR("CKsFilter::DestroyLists", S_OK);
  KS_TRACE_LEAVE("CKsIrpTarget::Close");
  std::vector<std::string> expected;
  if (Written(TRACE_FLOW)) {
    expected = {"CKsIrpTarget::SyncIoctl() Enter", "\r\n",
                "CKsIrpTarget::SyncIoctl Leave, returning 0x80004005", "\r\n",
                "CKsFilter::DestroyLists Leave, returning 00000000", "\r\n",
                "CKsIrpTarget::Close() Leave", "\r\n"};
  }
  CHECK(winsim::DebugOutput() == expected);
}
