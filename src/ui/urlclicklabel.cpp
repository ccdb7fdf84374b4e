#include "urlclicklabel.h"

#include <QDesktopServices>
#include <QUrl>

void UrlClickLabel::mousePressEvent(QMouseEvent *event)
{
    // Nothing to open before a banner has arrived.
    if (!m_Url.isEmpty())
        QDesktopServices::openUrl(QUrl(m_Url));
    QLabel::mousePressEvent(event);
}
