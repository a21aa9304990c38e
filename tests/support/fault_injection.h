#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/trelvi.h"
#include "support/fixtures.h"

namespace trelvi::test {

// What an operation left behind, carried out of a child process as text.
struct Outcome {
  bool Ran = false;  // false: the child died or said nothing
  bool Aborted = false;
  bool InOpen = false;
  bool OutOpen = false;
  std::vector<std::string> Errors;   // through the error hook
  std::vector<std::string> Shown;    // message boxes and dialogs
  std::vector<std::string> Written;  // files the operation reports
  std::int32_t ArmedAt = -1;         // progress value when the fault began
  std::string Note;                  // anything else the test wants back
};

inline std::string Serialize(const Outcome& o) {
  std::ostringstream out;
  auto list = [&](char tag, const std::vector<std::string>& items) {
    for (const auto& s : items) out << tag << s << '\n';
  };
  out << "A" << o.Aborted << "\nI" << o.InOpen << "\nO" << o.OutOpen << "\nP"
      << o.ArmedAt << "\nN" << o.Note << '\n';
  list('E', o.Errors);
  list('S', o.Shown);
  list('W', o.Written);
  return out.str();
}

inline Outcome Deserialize(const std::string& text) {
  Outcome o;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const std::string v = line.substr(1);
    switch (line[0]) {
      case 'A':
        o.Aborted = v == "1";
        o.Ran = true;
        break;
      case 'I':
        o.InOpen = v == "1";
        break;
      case 'O':
        o.OutOpen = v == "1";
        break;
      case 'P':
        o.ArmedAt = std::stoi(v);
        break;
      case 'N':
        o.Note = v;
        break;
      case 'E':
        o.Errors.push_back(v);
        break;
      case 'S':
        o.Shown.push_back(v);
        break;
      case 'W':
        o.Written.push_back(v);
        break;
    }
  }
  return o;
}

// Runs body in a child process and brings its outcome back. The child may
// lower its file-size limit (see FailWritesFromNowOn) without touching the
// test process. Messages of the operations never contain a newline except
// where the tests do not look.
inline Outcome InChild(const std::function<Outcome()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string text = Serialize(body());
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return Deserialize(text);
}

// From now on, in this process, no file may grow: every write that would
// extend one fails as on a full disk (the signal that would end the process
// is ignored, so the write reports the failure).
inline void FailWritesFromNowOn() {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{0, 0};
  setrlimit(RLIMIT_FSIZE, &limit);
}

// The bytes of every file under a folder, by path relative to it.
inline std::map<std::string, std::vector<std::uint8_t>> Snapshot(
    const std::filesystem::path& dir) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file())
      files[std::filesystem::relative(e.path(), dir).string()] =
          ReadBytes(e.path().string());
  return files;
}

// Names of everything in a folder, recursively, relative to it.
inline std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    names.push_back(std::filesystem::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace trelvi::test
