#include "testing/log_lines.h"

#include "platform/test_support.h"

namespace testing_logs {

Lines split_lines(const std::string& text) {
  Lines lines;
  std::string::size_type start = 0;
  for (std::string::size_type end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

Lines pass_log_lines(const std::string& log_path) {
  Lines lines;
  Lines all = split_lines(test_support::read_file(log_path));
  std::size_t start = all.size();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i].find("Run param is: ") != std::string::npos) start = i + 1;
  for (std::size_t i = start; i < all.size(); ++i) {
    std::size_t colon = all[i].find("s: ");
    std::string body = colon == std::string::npos ? all[i] : all[i].substr(colon + 3);
    std::size_t key_end = body.find(" : ");
    bool configuration_line = key_end != std::string::npos && body.find(' ') == key_end;
    if (!configuration_line) lines.push_back(body);
  }
  return lines;
}

}  // namespace testing_logs
