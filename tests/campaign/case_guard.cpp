#include "campaign/case_guard.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#endif

namespace campaign {
namespace {

// The label lives in a fixed buffer so that a signal handler can print it.
char g_label[512];

void PrintLabel(const char* what) {
  // Only async-signal-safe calls.
  ssize_t ignored = write(2, what, std::strlen(what));
  ignored = write(2, g_label, std::strlen(g_label));
  ignored = write(2, "\n", 1);
  (void)ignored;
}

void OnDeath() { PrintLabel("\n*** campaign: the process dies during "); }

void OnSignal(int signal) {
  OnDeath();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

class Watchdog {
 public:
  Watchdog() : m_thread([this] { Run(); }) { m_thread.detach(); }
  void Arm(std::chrono::seconds limit) {
    std::lock_guard guard(m_lock);
    m_deadline = std::chrono::steady_clock::now() + limit;
    m_armed = true;
    m_changed.notify_all();
  }
  void Disarm() {
    std::lock_guard guard(m_lock);
    m_armed = false;
  }

 private:
  void Run() {
    std::unique_lock guard(m_lock);
    for (;;) {
      if (!m_armed) {
        m_changed.wait(guard);
        continue;
      }
      if (m_changed.wait_until(guard, m_deadline) == std::cv_status::timeout && m_armed &&
          std::chrono::steady_clock::now() >= m_deadline) {
        PrintLabel("\n*** campaign: HANG, a run did not end within its limit: ");
        std::_Exit(3);
      }
    }
  }
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::chrono::steady_clock::time_point m_deadline;
  bool m_armed = false;
  std::thread m_thread;
};

Watchdog& Dog() {
  static Watchdog* dog = [] {
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(OnDeath);
#endif
    std::signal(SIGSEGV, OnSignal);
    std::signal(SIGABRT, OnSignal);
    std::signal(SIGBUS, OnSignal);
    std::signal(SIGFPE, OnSignal);
    return new Watchdog;
  }();
  return *dog;
}

}  // namespace

void BeginCase(const std::string& label, std::chrono::seconds limit) {
  std::snprintf(g_label, sizeof g_label, "%s", label.c_str());
  Dog().Arm(limit);
}

void EndCase() { Dog().Disarm(); }

// Memory that is really leaked stays unreachable, so a leak is counted only when a second
// check, once the platform's own threads have moved on, still finds it: a pointer caught in
// flight on such a thread (the delay timer between two completions, say) is no leak.
bool LeakedMemory() {
#if defined(__SANITIZE_ADDRESS__)
  if (__lsan_do_recoverable_leak_check() == 0) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return __lsan_do_recoverable_leak_check() != 0;
#else
  return false;
#endif
}

}  // namespace campaign
