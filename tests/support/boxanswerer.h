#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

// Answers the program's modal message boxes, so that nothing waits for a user
// who is not there. Every 20 ms it looks for the active modal QMessageBox,
// records it and clicks the next of the given answers (or, when the answers
// are used up or the box lacks that button, the box's first button).
//
//   BoxAnswerer answerer({QMessageBox::No});
//   window.close();                    // the question box is answered "No"
//   ASSERT_EQ(answerer.boxes().size(), 1);
//
// Used in test processes and, through the preloaded library
// boxanswerer_preload, inside the real update executable.
class BoxAnswerer : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
        QString parentName; // object name of the box's parent widget
        QMessageBox::StandardButton answer;
    };

    explicit BoxAnswerer(const QList<QMessageBox::StandardButton> &answers = {},
                         QObject *parent = nullptr);

    const QList<Box> &boxes() const { return m_Boxes; }
    void setAnswers(const QList<QMessageBox::StandardButton> &answers) { m_Answers = answers; }
    // Called with each new box while it is open, before it is answered.
    void setOnBox(std::function<void(QMessageBox *)> onBox) { m_OnBox = std::move(onBox); }

private:
    void poll();

    QTimer m_Timer;
    QList<QMessageBox::StandardButton> m_Answers;
    QList<Box> m_Boxes;
    std::function<void(QMessageBox *)> m_OnBox;

    // Boxes seen and not yet answered; the hook runs from its own timer
    // event, so that boxes it opens are answered by this poll meanwhile.
    struct Open
    {
        QPointer<QMessageBox> box;
        Box record;
        bool hookDone;
    };
    QList<Open> m_Open;
    QList<QPointer<QMessageBox>> m_Seen; // a deleted box's address may come back
};
