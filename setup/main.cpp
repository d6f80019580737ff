#include "setup/trellim.h"

int main(int argc, char **argv)
{
    return Trellim::run(argc, argv);
}
