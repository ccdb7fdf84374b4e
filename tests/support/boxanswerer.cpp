#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

BoxAnswerer::BoxAnswerer(const QList<QMessageBox::StandardButton> &answers, QObject *parent)
    : QObject(parent)
    , m_Answers(answers)
{
    m_Timer.setInterval(20);
    connect(&m_Timer, &QTimer::timeout, this, [this] { poll(); });
    m_Timer.start();
}

void BoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;

    m_Seen.removeAll(QPointer<QMessageBox>());
    if (!m_Seen.contains(QPointer<QMessageBox>(box))) {
        m_Seen.append(box);
        Box record;
        record.title = box->windowTitle();
        record.text = box->text();
        record.icon = box->icon();
        record.buttons = box->standardButtons();
        record.defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton())
                                                    : QMessageBox::NoButton;
        record.parentName = box->parentWidget() ? box->parentWidget()->objectName() : QString();
        record.answer = QMessageBox::NoButton;
        m_Open.append({box, record, !m_OnBox});
        if (m_OnBox) {
            QPointer<QMessageBox> guarded(box);
            QTimer::singleShot(0, this, [this, guarded] {
                if (guarded)
                    m_OnBox(guarded);
                for (Open &open : m_Open) {
                    if (open.box == guarded)
                        open.hookDone = true;
                }
            });
        }
        return;
    }

    for (int i = 0; i < m_Open.size(); ++i) {
        if (m_Open[i].box != box || !m_Open[i].hookDone)
            continue;
        Open open = m_Open.takeAt(i);
        QAbstractButton *button = nullptr;
        if (!m_Answers.isEmpty())
            button = box->button(m_Answers.takeFirst());
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        open.record.answer = button ? box->standardButton(button) : QMessageBox::NoButton;
        m_Boxes.append(open.record);
        if (button)
            button->click();
        else
            box->reject();
        return;
    }
}
