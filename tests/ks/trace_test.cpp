// Trace output: the threshold, the 259-character cut, the separate line end and the entry and
// exit lines of an operation.
#include <doctest/doctest.h>

#include <string>

#include "ks/trace.h"
#include "ks_support.h"
#include "support/machine.h"

namespace {

// The threshold this build of the layer was made with (ks/CMakeLists.txt), not the library's
// own variable: a library that ignored its setting fails here.
bool Written(int level) { return level <= KS_TRACE_LEVEL; }

}  // namespace

TEST_CASE("a message is written, then \"\\r\\n\", exactly when its level passes the build's threshold") {
  testing::Machine machine;
#ifdef KS_TESTS_OF_SHIPPED_LAYER
  static_assert(KS_TRACE_LEVEL == TRACE_ERROR, "the layer linked into portlink writes errors only");
#else
  static_assert(KS_TRACE_LEVEL == TRACE_FLOW, "the verbose layer writes every level");
#endif
  CHECK(g_traceLevel == KS_TRACE_LEVEL);
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

TEST_CASE("entry and exit lines use the shared formats; the exit line reports the result as it leaves") {
  testing::Machine machine;
  struct Case {
    bool withResult, omitLeave;
    const char* leave;
  };
  for (Case c : {Case{true, false, "CKsPin::Op Leave, returning 0x8007000e"}, Case{false, false, "CKsPin::Op() Leave"},
                 Case{true, true, nullptr}}) {
    CAPTURE(c.leave);
    winsim::ClearDebugOutput();
    {  // an operation that sets its result after its entry line
      HRESULT hr = S_OK;
      TraceScope trace("CKsPin::Op()", "CKsPin::Op", c.withResult ? &hr : NULL);
      if (c.omitLeave) trace.OmitLeave();
      hr = E_OUTOFMEMORY;
    }
    std::vector<std::string> expected;
    if (Written(TRACE_FLOW)) expected = {"CKsPin::Op() Enter"};
    if (Written(TRACE_FLOW) && c.leave != nullptr) expected.push_back(c.leave);
    CHECK(kstest::Lines() == expected);
  }
}
