#pragma once

#include <QString>

// The members of the update configuration, a JSON object keyed first by the
// release class ("xp", "win7", "mac") and, under "partialPacket", by the
// installed version. UpdateConfig reads them and ReleaseConfiguration writes
// them; the spelling, "fixUpdateUesedVersion" included, is what published
// configurations carry.
namespace ConfigKeys {

// Release class / "fixUpdatePacket": the self-update packet.
inline const QString fixUpdatePacket = QStringLiteral("fixUpdatePacket");
inline const QString fixUpdatePacketMd5 = QStringLiteral("fixUpdatePacketMd5");
inline const QString fixUpdatePacketUrl = QStringLiteral("fixUpdatePacketUrl");
inline const QString fixUpdateUesedVersion = QStringLiteral("fixUpdateUesedVersion");

// Release class: the full installer.
inline const QString installerMd5 = QStringLiteral("installerMd5");
inline const QString installerUrl = QStringLiteral("installerUrl");

// Release class / "partialPacket" / version: the packets for that version.
inline const QString partialPacket = QStringLiteral("partialPacket");
inline const QString partialPacketMd5 = QStringLiteral("partialPacketMd5");
inline const QString partialPacketUrl = QStringLiteral("partialPacketUrl");
inline const QString replacePacketMd5 = QStringLiteral("replacePacketMd5");
inline const QString replacePacketUrl = QStringLiteral("replacePacketUrl");

// ... / version / "modify" / "patch" / file: one file to patch.
inline const QString modify = QStringLiteral("modify");
inline const QString patch = QStringLiteral("patch");
inline const QString filePatch = QStringLiteral("filePatch");
inline const QString oldFileMd5 = QStringLiteral("oldFileMd5");
inline const QString newFileMd5 = QStringLiteral("newFileMd5");

} // namespace ConfigKeys
