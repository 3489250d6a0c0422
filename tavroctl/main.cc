// tavroctl: the administrator's client of the tavro daemon.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "base/revision.h"
#include "tavroctl/commands.h"

namespace {

constexpr const char* kUsage = R"(usage: tavroctl [OPTIONS] COMMAND [ARGUMENTS]

commands:
  status               revision, driver, adapter and port counts, request counters
  adapters             adapters with model, serial number and versions
  ports                ports with WWN, state, speed, type and fabric
  targets [--stats]    remote ports with their roles and LUNs (and the
                       fabric notifications counted for each)
  stats [PORT]         port statistics (all ports, or one), with the fabric
                       notifications the kernel of this host counted
  log [--follow]       the daemon's request log
  config               the daemon's settings
  get OID [PORT...]    read one object (an OID below .1.3.6.1.4.1.48217.3 may
                       be given without that prefix; PORT is a WWN or
                       ADAPTER:PORT and is added as the instance)
  set OID [PORT...] VALUE   write one object
  metrics [--output FILE]   Prometheus text format, to standard output or
                            replacing FILE atomically

options:
  --host HOST          daemon host (TAVRO_HOST, default 127.0.0.1)
  --port PORT          daemon port (TAVRO_PORT, default 8781)
  --timeout SECONDS    wait this long for each reply and for the whole
                       command (default 20)
  --json               JSON for scripts instead of tables
  --help, --version

exit status: 0 success, 1 error reply or a reply of the wrong shape, 2 usage,
3 cannot connect, 4 disabled in the daemon's configuration, 5 no reply (closed,
reset or timed out).
)";

const char* env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  tavroctl::Options o;
  o.host = env_or("TAVRO_HOST", "127.0.0.1");
  o.port = env_or("TAVRO_PORT", "8781");
  const int usage = static_cast<int>(tavroctl::Outcome::kUsage);
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "tavroctl " << tavro::revision_text << '\n';
      return 0;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--stats") {
      o.stats = true;
    } else if (a == "--follow" || a == "-f") {
      o.follow = true;
    } else if ((a == "--host" || a == "--port" || a == "--output" || a == "--timeout") &&
               has_value) {
      const std::string v = argv[++i];
      if (a == "--host") o.host = v;
      if (a == "--port") o.port = v;
      if (a == "--output") o.output = v;
      if (a == "--timeout") {
        char* end = nullptr;
        const double seconds = std::strtod(v.c_str(), &end);
        if (*end != '\0' || !(seconds > 0 && seconds <= 3600)) {
          std::cerr << "tavroctl: --timeout takes 0 to 3600 seconds\n";
          return usage;
        }
        o.timeout = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
      }
    } else if (a.size() > 1 && a[0] == '-' && o.words.empty()) {
      std::cerr << "tavroctl: unknown option " << a << " (tavroctl --help shows them)\n";
      return usage;
    } else {
      o.words.push_back(a);
    }
  }
  if ((o.follow && (o.words.empty() || o.words[0] != "log" || o.json)) ||
      (!o.output.empty() && (o.words.empty() || o.words[0] != "metrics")) ||
      (o.stats && (o.words.empty() || o.words[0] != "targets"))) {
    std::cerr << "tavroctl: --follow belongs to log (as text), --output to metrics, --stats to "
                 "targets\n";
    return usage;
  }
  return tavroctl::run(o, std::cout, std::cerr);
}
