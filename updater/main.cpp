#include "startup/startup.h"

int main(int argc, char **argv)
{
    // The vendor's keys come with the build of this program alone (see
    // VELMORA_CONFIG_PUBLIC_KEYS), so that a test build can trust a test key.
    return Startup::run(argc, argv, QStringLiteral(VELMORA_CONFIG_PUBLIC_KEYS));
}
