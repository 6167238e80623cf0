// Captures what the code under test writes to the system log (NSLog writes to standard error here).
#ifndef DB_TEST_LOG_CAPTURE_H
#define DB_TEST_LOG_CAPTURE_H

#include <string>
#include <vector>

class LogCapture {
 public:
  LogCapture();   // starts capturing file descriptor 2
  ~LogCapture();  // stops, if stop() was not called
  // Stops capturing and returns the messages logged meanwhile, each without NSLog's
  // "date time program[pid:tid] " prefix. Lines that carry no such prefix are returned whole.
  std::vector<std::string> stop();
  // Messages so far (stops and restarts the capture).
  std::vector<std::string> messages();

 private:
  int savedFd_;
  int captureFd_;
  std::string path_;
  std::vector<std::string> collected_;
  void begin();
  void end();
};

// Number of messages equal to text.
int CountMessages(const std::vector<std::string> &messages, const std::string &text);

#endif
