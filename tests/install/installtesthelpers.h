#pragma once

// Helpers for the installation tests: running a task to its end on the event
// loop, writing files with a mode, and taking snapshots of directory trees
// (paths, contents and permission bits) to compare before and after.

#include "tasks/taskspecification.h"
#include "testsandbox.h"
#include "treesnapshot.h"

#include <QByteArray>
#include <QFileDevice>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

namespace InstallTest {

// Everything a task said while it ran.
struct TaskRun
{
    explicit TaskRun(TaskSpecification *task);
    // Executes the task and waits (up to timeoutMs) until it has ended.
    bool run(int timeoutMs = 20000);
    bool waitForEnd(int timeoutMs = 20000);
    QStringList messageTexts() const;
    QStringList errorTexts() const;

    TaskSpecification *task;
    QSignalSpy messages;
    QSignalSpy errors;
    QSignalSpy finished;
    QSignalSpy canceled;
};

using TreeSnapshot::differences;
using TreeSnapshot::snapshot;
using TreeSnapshot::Tree;

bool writeFile(const QString &path, const QByteArray &bytes,
               QFileDevice::Permissions mode = QFileDevice::Permissions());
QByteArray readFile(const QString &path);
QString sha512Hex(const QByteArray &bytes);
QByteArray package(const QByteArray &content);
QByteArray gzip(const QByteArray &content);
using TestSandbox::randomBytes;

constexpr QFileDevice::Permissions mode644 = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadUser | QFileDevice::WriteUser |
                                             QFileDevice::ReadGroup | QFileDevice::ReadOther;
constexpr QFileDevice::Permissions mode600 = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadUser | QFileDevice::WriteUser;
constexpr QFileDevice::Permissions mode777 = QFileDevice::Permissions(0x7777);
constexpr QFileDevice::Permissions mode755 = mode644 | QFileDevice::ExeOwner |
                                             QFileDevice::ExeUser | QFileDevice::ExeGroup |
                                             QFileDevice::ExeOther;

} // namespace InstallTest
