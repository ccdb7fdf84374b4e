#pragma once

#include <QLabel>
#include <QString>

// A label that opens its link target with the desktop's URL handler when it is
// clicked with any mouse button: the logo (the product website) and the banner.
class UrlClickLabel : public QLabel
{
public:
    using QLabel::QLabel;

    void setUrl(const QString &url) { m_Url = url; }
    QString url() const { return m_Url; }

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_Url;
};
