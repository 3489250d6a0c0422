// Runs a fuzz target without a fuzzing engine over the files given and over a
// fixed number of inputs derived from them by simple deterministic mutations,
// so that every target is built and exercised in the ordinary test suite.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::string mutate(std::string s, std::mt19937& rng) {
  using namespace std::string_literals;
  const std::string specials = " \r\n\t\",;|%./0x-+#\0\xff"s;  // with the NUL
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < edits; ++i) {
    std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    const auto edit = rng() % 4;
    if (edit == 0) s.insert(at, 1, specials[rng() % specials.size()]);
    if (edit == 1 && at < s.size()) s.erase(at, 1 + rng() % 8);
    if (edit == 2) s.insert(at, std::string(rng() % 300, static_cast<char>('A' + rng() % 26)));
    if (edit == 3 && at < s.size()) s[at] = static_cast<char>(rng());
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> seeds{""};
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::mt19937 rng(12345);
  int runs = 0;
  for (const auto& seed : seeds) {
    std::string current = seed;
    for (int i = 0; i < 300; ++i, ++runs) {
      current = (i % 20 == 0) ? seed : mutate(current, rng);
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(current.data()), current.size());
    }
  }
  std::cout << runs << " inputs run\n";
  return 0;
}
