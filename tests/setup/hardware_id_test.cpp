// The revision reduction and the model-id match of the reinstall command.
#include <doctest/doctest.h>

#include <string>

#include "setup/hardware_id.h"

TEST_CASE("ReduceHardwareId drops every piece that holds REV_") {
  struct Case {
    const char* id;
    const char* reduced;
  } cases[] = {
      {"USB\\VID_0001&PID_0002&REV_0100", "USB\\VID_0001&PID_0002"},
      {"USB\\VID_0001&PID_0002&REV_0100&MI_01", "USB\\VID_0001&PID_0002&MI_01"},
      {"USB\\VID_0001&PID_0002", "USB\\VID_0001&PID_0002"},
      {"USB\\VID_0001&PID_0002&rev_0100", "USB\\VID_0001&PID_0002&rev_0100"},
      {"USB\\VID_0001&XREV_1&PID_0002", "USB\\VID_0001&PID_0002"},
      {"A&&B", "A&&B"},
      {"A&", "A"},
      {"&A", "&A"},
      {"REV_0100", ""},
      {"", ""},
      {"&", ""},
      {"REV_1&REV_2&A", "A"},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.id));
    CHECK(devsetup::ReduceHardwareId(c.id) == c.reduced);
  }
}

TEST_CASE("a reduced id matches a model id it begins with, ASCII letters folded") {
  struct Case {
    const char* reduced;
    const char* model;
    bool matches;
  } cases[] = {
      {"USB\\VID_0001&PID_0002", "USB\\VID_0001&PID_0002", true},
      {"usb\\vid_0001&pid_0002&rev_0200", "USB\\VID_0001&PID_0002", true},
      {"USB\\VID_0001&PID_0002", "USB\\VID_0001&PID_000", true},  // a prefix matches
      {"USB\\VID_0001&PID_000", "USB\\VID_0001&PID_0002", false},  // shorter never does
      {"USB\\VID_0001&PID_0003", "USB\\VID_0001&PID_0002", false},
      {"USB\\VID_0001&PID_0002", "USB\\VID_0001&PID_0002&REV_0100", false},
      {"", "", true},
      {"", "USB", false},
      {"USB\\VID_\xC4", "usb\\vid_\xE4", false},  // bytes above 0x7F compare exactly
      {"USB\\VID_[", "USB\\VID_{", false},          // only letters fold
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.reduced));
    CAPTURE(std::string(c.model));
    CHECK(devsetup::ModelIdMatches(c.reduced, c.model) == c.matches);
  }
}
