// Work split over the machine's two cores with the standard library's threads.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

// Runs fn(0) and fn(1), on two threads when asked; an exception of either is raised here.
template <typename Fn>
void OnBothCores(bool two, Fn&& fn) {
  if (!two) {
    fn(0);
    fn(1);
    return;
  }
  std::exception_ptr error;
  {
    std::jthread other;
    try {
      other = std::jthread([&] {
        try {
          fn(1);
        } catch (...) {
          error = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No room for a second thread: one core does both halves.
      fn(0);
      fn(1);
      return;
    }
    fn(0);
  }
  if (error) std::rethrow_exception(error);
}
