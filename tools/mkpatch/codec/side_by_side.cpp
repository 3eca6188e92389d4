#include "mkpatch/codec/side_by_side.h"

#include <atomic>
#include <exception>
#include <future>
#include <system_error>
#include <vector>

void RunSideBySide(size_t count, const std::function<void(size_t)>& work) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::exception_ptr> errors(count);
  const auto takeTurns = [&] {
    for (size_t i = next++; i < count && !failed; i = next++) {
      try {
        work(i);
      } catch (...) {
        errors[i] = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::future<void>> helpers;
  for (size_t i = 0; i < kSideBySideWorkers && i + 1 < count; ++i) {
    try {
      helpers.push_back(std::async(std::launch::async, takeTurns));
    } catch (const std::system_error&) {
      break;  // no thread to be had: the caller's does the rest
    }
  }
  takeTurns();
  for (std::future<void>& helper : helpers) helper.wait();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}
