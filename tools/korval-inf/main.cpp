// korval-inf OUT.inf: writes the installer of korval.sys from the registry defaults table.
#include "tools/korval-inf/inf_writer.h"

#include <cstdio>
#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: korval-inf OUT.inf\n";
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    const std::string inf = korval::tools::makeKorvalInf(korval::tools::registryDefaults());
    // INF files are read with CR LF line ends.
    for (char c : inf) {
        if (c == '\n') {
            out.put('\r');
        }
        out.put(c);
    }
    out.close();
    if (!out) {
        std::cerr << "korval-inf: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
