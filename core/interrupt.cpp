#include "core/interrupt.h"

#include <atomic>
#include <thread>

namespace tulm {
namespace {

std::atomic<bool (*)()> hostQuery{nullptr};
std::atomic<std::thread::id> callingThread{};
std::atomic<bool> stopRequested{false};

}  // namespace

void set_interrupt_query(bool (*pending)()) {
  hostQuery.store(pending, std::memory_order_relaxed);
  callingThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
  stopRequested.store(false, std::memory_order_relaxed);
}

bool interrupt_requested() {
  if (stopRequested.load(std::memory_order_relaxed)) return true;
  bool (*const pending)() = hostQuery.load(std::memory_order_relaxed);
  if (pending == nullptr ||
      std::this_thread::get_id() != callingThread.load(std::memory_order_relaxed) || !pending()) {
    return false;
  }
  stopRequested.store(true, std::memory_order_relaxed);
  return true;
}

}  // namespace tulm
