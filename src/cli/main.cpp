#include <unistd.h>

#include <clocale>
#include <iostream>

#include "cli/cli.h"
#include "platform/temp_files.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C");
    // An interrupted batch leaves no half-written temporary file beside its outputs.
    qil::RemoveTemporaryFilesOnSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    return qil::cli::Run(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);
}
