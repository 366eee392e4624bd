// The qil command-line tool: the workbench's processing commands from the shell.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qil::cli {

// Runs one invocation. Args excludes the program name. Messages go to Out, errors and the
// progress bar to Err (the bar only when ErrIsTerminal). Returns the exit status: 0 success,
// 1 when an input failed, 2 for a usage error.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);

}  // namespace qil::cli
