// Preloaded (LD_PRELOAD) into the real update executable by tests and the
// screenshot script: answers its message boxes and writes down what it showed,
// without any hook in the program itself.
//
// Environment:
//   QVX_TEST_BOX_LOG      file that gets one line per box and one for the main
//                         window once it is shown:
//                         "box<TAB>title<TAB>text" and
//                         "window<TAB>title<TAB>header"; line ends in texts as "\n"
//   QVX_TEST_BOX_ANSWERS  answers in order, comma-separated: ok, yes, no, abort
//   QVX_TEST_SCREENSHOT   PNG file: the main window once its progress bar has
//                         reached QVX_TEST_SCREENSHOT_PROGRESS (default 1) of 1000
//   QVX_TEST_SCREENSHOT_DETAILS  "1": open the details log before the picture
#include "boxanswerer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextStream>
#include <QWidget>

namespace {

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

void appendLine(const QString &line)
{
    const QString path = qEnvironmentVariable("QVX_TEST_BOX_LOG");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line.toUtf8() + '\n');
}

QMessageBox::StandardButton answerNamed(const QString &name)
{
    if (name == QLatin1String("yes"))
        return QMessageBox::Yes;
    if (name == QLatin1String("no"))
        return QMessageBox::No;
    if (name == QLatin1String("abort"))
        return QMessageBox::Abort;
    return QMessageBox::Ok;
}

QWidget *mainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("MainWindow"))
            return widget;
    }
    return nullptr;
}

void start()
{
    QList<QMessageBox::StandardButton> answers;
    const QString answerList = qEnvironmentVariable("QVX_TEST_BOX_ANSWERS");
    for (const QString &name : answerList.split(QLatin1Char(','), Qt::SkipEmptyParts))
        answers << answerNamed(name.trimmed());

    auto *answerer = new BoxAnswerer(answers, QCoreApplication::instance());
    answerer->setOnBox([](QMessageBox *box) {
        appendLine(QStringLiteral("box\t%1\t%2").arg(box->windowTitle(), oneLine(box->text())));
    });

    auto *watcher = new QTimer(QCoreApplication::instance());
    watcher->setInterval(20);
    QObject::connect(watcher, &QTimer::timeout, [watcher] {
        static bool windowSeen = false;
        static bool pictureTaken = false;
        QWidget *window = mainWindow();
        if (!window || !window->isVisible())
            return;
        if (!windowSeen) {
            windowSeen = true;
            const auto *header = window->findChild<QLabel *>(QStringLiteral("versionLabel"));
            appendLine(
                QStringLiteral("window\t%1\t%2")
                    .arg(window->windowTitle(), header ? oneLine(header->text()) : QString()));
        }
        const QString picture = qEnvironmentVariable("QVX_TEST_SCREENSHOT");
        if (picture.isEmpty() || pictureTaken)
            return;
        const auto *bar = window->findChild<QProgressBar *>(QStringLiteral("totalProgressBar"));
        const int threshold = qEnvironmentVariableIntValue("QVX_TEST_SCREENSHOT_PROGRESS");
        if (!bar || bar->value() < qMax(1, threshold))
            return;
        if (qEnvironmentVariable("QVX_TEST_SCREENSHOT_DETAILS") == QLatin1String("1")) {
            if (auto *details = window->findChild<QPushButton *>(QStringLiteral("detailsButton")))
                details->setChecked(true);
            window->adjustSize();
        }
        pictureTaken = true;
        window->grab().save(picture);
        appendLine(QStringLiteral("screenshot\t%1\t%2").arg(picture).arg(bar->value()));
    });
    watcher->start();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(start)
