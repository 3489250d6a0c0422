// A scratch directory for one daemon: its working directory, a web root
// "www" inside it and a request log.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {

inline const std::string kStatusOk = "HTTP/1.0 200 OK\n\n";

inline std::string sorry_page(const std::string& line) {
  return "<html>\n<head><title>Sorry</title></head>\n<body bgcolor=ffffff text=000000>\n"
         "<center>\n<br><br>\n<font color=ff0000 size=\"+2\"><strong>Sorry...</strong></font>\n"
         "<br><br>\n" +
         line + "\n</center>\n</body>\n</html>\n";
}

inline const std::string kNotFound =
    "HTTP/1.0 404 NOT FOUND\n\n" + sorry_page("The requested URL was not found on this site.");
inline const std::string kRefused =
    "HTTP/1.0 500 NOT ALLOWED\n\n" + sorry_page("The request is not allowed on this system.");

class WebSite {
 public:
  WebSite() {
    std::filesystem::create_directory(www);
    write_file(log, "");
  }
  void add(const std::string& path, const std::string& text) {
    std::filesystem::path full = dir + "/" + path;
    std::filesystem::create_directories(full.parent_path());
    write_file(full.string(), text);
  }
  // Adds each file under the web root; returns a GET row for each, expecting
  // the file as it stands.
  std::vector<Exchange> add_pages(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<Exchange> rows;
    for (const auto& [path, text] : files) {
      add("www/" + path, text);
      rows.push_back({"/" + path, kStatusOk + text});
    }
    return rows;
  }

  DaemonProcess& start(std::vector<std::string> args) {
    daemon_.reset();
    daemon_ = std::make_unique<DaemonProcess>(DaemonOptions{args, {}, dir});
    return *daemon_;
  }
  int port() const { return daemon_->port(); }

  const std::string dir = make_temp_dir();
  const std::string www = dir + "/www";
  const std::string log = dir + "/requests.log";

 private:
  std::unique_ptr<DaemonProcess> daemon_;
};

inline std::string get_request(const std::string& path) {
  return "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
}
inline std::string get(int port, const std::string& path) {
  return request(port, get_request(path));
}

// Like mismatches(), with each request the path of a GET.
inline std::string get_mismatches(int port, std::vector<Exchange> rows) {
  for (auto& row : rows) row.request = get_request(row.request);
  return mismatches(port, rows);
}

// The rows of a data file of a path and the reply to its GET; ${OK} stands
// for the status line of a file sent, ${NOT_FOUND} for the whole reply of one
// that is not.
inline std::vector<Exchange> get_rows(const std::string& path) {
  std::vector<Exchange> rows;
  for (const auto& row : read_rows(path, {{"OK", kStatusOk}, {"NOT_FOUND", kNotFound}}))
    rows.push_back({row[0], row[1]});
  return rows;
}

inline std::string get_stats(int port) {
  return request(port, "STATS GET ");
}

}  // namespace tavro::testing
