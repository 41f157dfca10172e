#include "tools/korval/cli.h"

#include <iostream>

int main(int argc, char** argv)
{
    return korval::tools::runKorval({argv + 1, argv + argc}, std::cout, std::cerr);
}
