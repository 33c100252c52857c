// Process entry of quillet-cli.

#include "cli/Commands.h"
#include "cli/Console.h"

int main(int argc, char** argv) { return quillet::cli::RunCli(quillet::cli::PrepareProcess(argc, argv)); }
