#include "CTempCwd.h"

#include <QDir>

CTempCwd::CTempCwd() : m_previous(QDir::currentPath()) {
    QDir::setCurrent(m_dir.path());
}

CTempCwd::~CTempCwd() {
    QDir::setCurrent(m_previous);
}
