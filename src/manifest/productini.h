#pragma once

#include <QString>
#include <QStringList>

// The product ini: the signed manifest of one release of one product flavour.
// It is an INI file read with QSettings; sections "delete", "preinstall" and
// "postinstall" are special, every other section lists files whose packages
// and patches lie in the section's sub-folder of the release folder.

// "qvx_client_linux_amd64.ini" when the client is updated (mode 1),
// "update_linux_amd64.ini" when the updater updates itself (mode 0).
QString productIniName(int updateMode);

namespace ProductIni {

inline constexpr char deleteSection[] = "delete";
inline constexpr char preInstallSection[] = "preinstall";
inline constexpr char postInstallSection[] = "postinstall";
// A key with this ending is a patch line, in whatever section.
inline constexpr char patchKeySuffix[] = "_patch_";
// Install command arguments have this replaced by the installation directory.
inline constexpr char installDirPlaceholder[] = "__QVX_DIR__";
// The suffix of an LZMA2 package; any other package is a gzip file.
inline constexpr char lzma2PackageSuffix[] = "._lzma2_";

// Splits a value at "::"; empty fields count.
QStringList splitFields(const QString &value);
// A decimal size field; anything that is not a number reads as 0.
quint64 sizeField(const QString &field);

// The manifest is trusted only as far as its signature goes: a name it gives
// must stay below the directory it is joined to. True for a non-empty
// relative path without a ".." component.
bool isContainedPath(const QString &path);

} // namespace ProductIni
