#include "releasecontract/configsignature.h"
#include "startup/startup.h"

namespace {
// The vendor's keys come with the build of this program alone (see
// VELMORA_CONFIG_PUBLIC_KEYS), so that a test build can trust a test key. They
// are kept as a record that update-packager finds in this program's file.
const char trustedKeysRecord[] = VELMORA_TRUSTED_KEYS_RECORD(VELMORA_CONFIG_PUBLIC_KEYS);
} // namespace

int main(int argc, char **argv)
{
    return Startup::run(argc, argv, ConfigSignature::keysOfRecord(trustedKeysRecord));
}
