#include "storage/program_parameters.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

#include "core/strings.h"

namespace lunadio {
namespace {

struct ParameterState {
  std::mutex mutex;
  // -- guarded by mutex
  bool loaded = false;
  std::u16string line;
  std::vector<std::u16string> tokens;  // the program's path first
  std::int32_t cursor = 0;             // parameters handed out so far
};

ParameterState& state() {
  static ParameterState instance;
  return instance;
}

void loadLocked(const std::lock_guard<std::mutex>&, ParameterState& s,
                std::vector<std::u16string> arguments) {
  s.loaded = true;
  s.cursor = 0;
  const bool exact = quoteCommandLine(arguments, s.line);
  // A name holding double quotes the rules cannot express would otherwise lose its quotes or
  // swallow the parameters after it; the argument vector is already split, so trust it then.
  s.tokens = exact ? tokenizeCommandLine(s.line) : std::move(arguments);
}

std::vector<std::u16string> argumentsOfThisProcess() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::u16string> arguments;
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    arguments.push_back(fromUtf8(std::string_view(raw).substr(start, end - start)));
    start = end + 1;
  }
  return arguments;
}

void ensureLoadedLocked(const std::lock_guard<std::mutex>& lock, ParameterState& s) {
  if (!s.loaded) loadLocked(lock, s, argumentsOfThisProcess());
}

// An argument goes into the line as it is when it reads back as one token by itself and its
// quotes pair up (an unpaired quote would run on into the next arguments); otherwise in quotes.
bool standsAlone(std::u16string_view argument) {
  if (argument.empty() || argument.front() == u'"') return false;
  if (std::count(argument.begin(), argument.end(), u'"') % 2 != 0) return false;
  const auto tokens = tokenizeCommandLine(argument);
  return tokens.size() == 1 && tokens.front() == argument;
}

}  // namespace

std::vector<std::u16string> tokenizeCommandLine(std::u16string_view line) {
  std::vector<std::u16string> tokens;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (true) {
    while (i < n && line[i] == u' ') ++i;
    if (i >= n) break;
    if (line[i] == u'"') {
      const std::size_t start = ++i;
      while (i < n && line[i] != u'"') ++i;
      tokens.emplace_back(line.substr(start, i - start));
      if (i < n) ++i;  // the closing quote
      continue;
    }
    const std::size_t start = i;
    while (i < n && line[i] != u' ') {
      if (line[i] == u'"') {
        ++i;
        while (i < n && line[i] != u'"') ++i;
        if (i >= n) break;
      }
      ++i;
    }
    tokens.emplace_back(line.substr(start, i - start));
    if (i < n) ++i;  // the space that ended the token
  }
  return tokens;
}

bool quoteCommandLine(const std::vector<std::u16string>& arguments, std::u16string& line) {
  line.clear();
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    if (k > 0) line += u' ';
    const std::u16string& argument = arguments[k];
    if (standsAlone(argument)) {
      line += argument;
    } else {
      line += u'"';
      line += argument;
      line += u'"';
    }
  }
  return tokenizeCommandLine(line) == arguments;
}

void setProgramArguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int k = 0; k < argc && argv && argv[k]; ++k) arguments.push_back(fromUtf8(argv[k]));
  ParameterState& s = state();
  std::lock_guard lock(s.mutex);
  loadLocked(lock, s, std::move(arguments));
}

void setCommandLine(std::u16string_view line) {
  ParameterState& s = state();
  std::lock_guard lock(s.mutex);
  s.loaded = true;
  s.cursor = 0;
  s.line.assign(line);
  s.tokens = tokenizeCommandLine(line);
}

std::u16string commandLine() {
  ParameterState& s = state();
  std::lock_guard lock(s.mutex);
  ensureLoadedLocked(lock, s);
  return s.line;
}

std::int32_t countProgramParameters() {
  ParameterState& s = state();
  std::lock_guard lock(s.mutex);
  ensureLoadedLocked(lock, s);
  return s.tokens.empty() ? 0 : static_cast<std::int32_t>(s.tokens.size() - 1);
}

std::u16string nextProgramParameter() {
  ParameterState& s = state();
  std::lock_guard lock(s.mutex);
  ensureLoadedLocked(lock, s);
  const std::size_t at = static_cast<std::size_t>(s.cursor) + 1;
  if (at >= s.tokens.size()) return {};
  ++s.cursor;
  return s.tokens[at];
}

}  // namespace lunadio
