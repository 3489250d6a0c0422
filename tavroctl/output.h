// Output for people (aligned tables), for Prometheus (text format) and the
// atomic replacement of a file that node_exporter reads.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace tavroctl {

class Table {
 public:
  explicit Table(std::vector<std::string> headers) : rows_{std::move(headers)} {}
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  // Columns two blanks apart, the last one not padded; "" shows as "-".
  void print(std::ostream& out) const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

using Labels = std::vector<std::pair<std::string, std::string>>;

// Metric families in the order first used, each with its samples together.
class Metrics {
 public:
  void add(const std::string& name, const std::string& help, const Labels& labels,
           const std::string& value);
  std::string text() const;

 private:
  struct Family {
    std::string name, help;
    std::vector<std::string> samples;
  };
  std::vector<Family> families_;
};

std::string escape_label(const std::string& value);

// Writes text to path through a temporary file in the same folder, renamed
// over it; readers see the old file or the new one, never a part. Returns ""
// or the reason it failed.
std::string replace_file(const std::string& path, const std::string& text);

}  // namespace tavroctl
