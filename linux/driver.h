// The driver's answers from the kernel's Fibre Channel transport: one request
// of the message catalogue answered in place from the sysfs model, with its
// status word set (kAnswered, or why there is no value).
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "linux/layout.h"
#include "sysfs/model.h"

namespace qlinux {

class Driver {
 public:
  // stats_wait bounds the statistics reads of one answer in total: files
  // stuck in their driver delay the one delivery thread, and so every
  // program, by at most that (the model reads them on threads of its own).
  explicit Driver(sysfs::Model& model,
                  std::chrono::milliseconds stats_wait = sysfs::Model::kStatsWait)
      : model_(model), stats_wait_(stats_wait) {}

  // Answers one request whose area has passed the channel checks.
  void answer(std::string_view destination, std::uint32_t number, Area area);

  sysfs::Model& model() { return model_; }
  std::chrono::milliseconds stats_wait() const { return stats_wait_; }

 private:
  sysfs::Model& model_;
  std::chrono::milliseconds stats_wait_;
};

}  // namespace qlinux
