#pragma once
// The document of one preview window. It holds no data: pictures are never stored, and the
// title only names the window and the first file a save offers.
#include <QObject>
#include <QString>

class CFacettaDoc : public QObject {
    Q_OBJECT
public:
    explicit CFacettaDoc(QObject* parent = nullptr);

    QString GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& strTitle);

signals:
    void TitleChanged(const QString& strTitle);

private:
    QString m_strTitle;
};
