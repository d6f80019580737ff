// What the compiled part of 7-Zip needs from the rest of 7-Zip, which is not
// compiled.
#include "CPP/Common/Common.h"

// The interface identifiers, defined once for the whole library; every other
// file only declares them. MyInitGuid.h must come first.
// clang-format off
#include "CPP/Common/MyInitGuid.h"

#include "CPP/7zip/Archive/IArchive.h"
#include "CPP/7zip/ICoder.h"
#include "CPP/7zip/IPassword.h"
#include "CPP/7zip/IProgress.h"
#include "CPP/7zip/IStream.h"
// clang-format on

#include "CPP/Common/MyString.h"

// The archive link's own volume callback, which opens volumes by name from
// the file system, asks whether a volume name is safe. The full answer lives
// with 7-Zip's extraction code, which this library does not use; here only a
// plain name in the archive's own folder is.
bool IsSafePath(const UString &path)
{
    return !path.IsEmpty() && path.Find(L'/') < 0 && path.Find(L'\\') < 0 && !path.IsEqualTo(".") &&
           !path.IsEqualTo("..");
}
