#include "LogCapture.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

LogCapture::LogCapture() : savedFd_(-1), captureFd_(-1) { begin(); }

LogCapture::~LogCapture() { end(); }

void LogCapture::begin() {
  char pattern[] = "/tmp/db-log-XXXXXX";
  captureFd_ = mkstemp(pattern);
  path_ = pattern;
  fflush(stderr);
  savedFd_ = dup(2);
  dup2(captureFd_, 2);
}

void LogCapture::end() {
  if (savedFd_ < 0) return;
  fflush(stderr);
  dup2(savedFd_, 2);
  close(savedFd_);
  close(captureFd_);
  savedFd_ = -1;
  std::ifstream in(path_);
  std::string line;
  while (std::getline(in, line)) {
    // NSLog: "2026-12-08 01:02:03.456 program[123:456] message"
    size_t bracket = line.find('[');
    size_t close = line.find("] ", bracket == std::string::npos ? 0 : bracket);
    bool prefixed = line.size() > 24 && line[4] == '-' && line[7] == '-' && bracket != std::string::npos &&
                    close != std::string::npos;
    collected_.push_back(prefixed ? line.substr(close + 2) : line);
  }
  unlink(path_.c_str());
}

std::vector<std::string> LogCapture::stop() {
  end();
  return collected_;
}

std::vector<std::string> LogCapture::messages() {
  end();
  begin();
  return collected_;
}

int CountMessages(const std::vector<std::string> &messages, const std::string &text) {
  return (int)std::count(messages.begin(), messages.end(), text);
}
