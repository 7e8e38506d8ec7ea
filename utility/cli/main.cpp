#include "cli_runtime.h"

int main(int argc, char** argv) {
    return tessaly::cli::RunCli(argc, argv);
}
