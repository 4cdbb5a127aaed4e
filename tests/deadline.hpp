// A watchdog for tests that can block on a pipe, a terminal, a FIFO, a child or another thread.
// A test that is still running when its time is up is named on stderr and the whole process
// ends with a failure: a hang costs seconds instead of ctest's timeout of twenty minutes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace lyap::testing {

// Generous for a sanitizer build on a busy machine; a working test needs well under a second.
inline constexpr std::chrono::seconds default_deadline{20};

class Deadline {
 public:
  explicit Deadline(std::chrono::seconds limit = default_deadline) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name()
                                       : std::string("a test");
    watchdog_ = std::thread([this, limit, name = std::move(name)] {
      std::unique_lock lock(mutex_);
      if (ended_.wait_for(lock, limit, [this] { return finished_; })) return;
      // The test is stuck where nothing can reach it: no clean way back but out.
      std::fprintf(stderr, "\n%s: still running after %lld s, so it hangs; giving up\n",
                   name.c_str(), static_cast<long long>(limit.count()));
      std::fflush(stderr);
      std::_Exit(EXIT_FAILURE);
    });
  }
  ~Deadline() {
    {
      const std::lock_guard lock(mutex_);
      finished_ = true;
    }
    ended_.notify_one();
    watchdog_.join();
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool finished_ = false;
  std::thread watchdog_;
};

}  // namespace lyap::testing
