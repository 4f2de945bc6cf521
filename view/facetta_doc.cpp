#include "facetta_doc.h"

CFacettaDoc::CFacettaDoc(QObject* parent) : QObject(parent) {}

void CFacettaDoc::SetTitle(const QString& strTitle) {
    if (strTitle == m_strTitle) return;
    m_strTitle = strTitle;
    emit TitleChanged(m_strTitle);
}
