#pragma once

#include <QByteArray>
#include <QString>

// Every test process runs inside a sandbox directory of its own: before Qt
// starts, HOME, TMPDIR and QVX_CONFIG_DIR are pointed at fresh folders in it,
// so no test ever reads or writes the machine's real home, configuration or
// temporary directory, and processes a test starts inherit the same folders.
namespace TestSandbox {

// Creates the sandbox and sets the environment; called once by the test main.
void enter();
// Removes the sandbox; called once when the tests are done.
void leave();

QString root();
QString home();      // $HOME
QString tempDir();   // $TMPDIR, also QDir::tempPath()
QString configDir(); // $QVX_CONFIG_DIR, ends with "/"

// The real update executable under test (from the build), or empty.
QString updateExecutable();

// Removes the updater's session directories (quorvex_temp_*) from $TMPDIR,
// so that the next test starts without one to continue.
void removeSessionDirectories();

QByteArray readFile(const QString &path);
// Creates the parent directories as needed.
bool writeFile(const QString &path, const QByteArray &data);
// n bytes of noise, the same for the same seed.
QByteArray randomBytes(int n, quint32 seed);

} // namespace TestSandbox
