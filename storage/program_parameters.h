#pragma once
// Program parameters: the command line split into tokens by the system's quoting rules, handed
// out one at a time. The first token is the program's own path and is never handed out.
//
// On Linux the command line is the argument vector re-quoted into one line; main() passes it in
// with setProgramArguments() before anything reads a parameter (without it, /proc/self/cmdline
// stands in). Any thread may call these; the state is guarded by one mutex.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lunadio {

// Splits a command line: only the space character separates tokens; a token that starts with a
// double quote runs to the next one (quotes dropped); a double quote inside any other token opens
// a stretch in which spaces do not end it (quotes kept).
std::vector<std::u16string> tokenizeCommandLine(std::u16string_view line);

// Joins arguments into one line that tokenizeCommandLine splits back into the same arguments,
// whenever the quoting rules can express them. Returns false when some argument cannot survive
// the rules (a double quote in a place they cannot keep); the line is then only approximate.
bool quoteCommandLine(const std::vector<std::u16string>& arguments, std::u16string& line);

// Records the process's argument vector (argv[0] is the program). Resets the parameter cursor.
void setProgramArguments(int argc, char** argv);
// Records a raw command line instead (the program's path first). Resets the parameter cursor.
void setCommandLine(std::u16string_view line);
// The command line the parameters come from.
std::u16string commandLine();

// Number of tokens after the first (0 without parameters).
std::int32_t countProgramParameters();
// The parameter at the cursor, which then advances; "" once all are handed out.
std::u16string nextProgramParameter();

}  // namespace lunadio
