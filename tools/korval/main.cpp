#include "tools/korval/cli.h"
#include "tools/korval/driver_choice.h"

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    // A Windows image needs the 32-bit korval; this one hands the command over.
    if (!korval::tools::kRunsDriverImages && korval::tools::namesDriverImage(args)) {
        return korval::tools::runThirtyTwoBitKorval(args, std::cerr);
    }
    return korval::tools::runKorval(args, std::cout, std::cerr);
}
