#include "commands.h"

int main(int argc, char** argv) { return tarvo::cli::RunMain(argc, argv); }
