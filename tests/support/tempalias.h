#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away home for one test: the store's configuration and data folders
// point into a temporary folder for as long as the object lives, so a test
// never reads or writes the user's real aliases.
class TempAlias
{
public:
    TempAlias();
    ~TempAlias();

    QString root() const { return m_dir.path(); }
    QString configHome() const;
    QString dataHome() const;
    // The folder the default alias "kor" uses when the configuration does not name it.
    QString defaultFolder(const QString &alias = QStringLiteral("kor")) const;
    // Writes an alias entry into the store's configuration file.
    void configure(const QString &alias, const QString &folder) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig;
    QByteArray m_oldData;
};
