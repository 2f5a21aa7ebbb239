#pragma once

#include "app/appfixture.h"
#include "sqlitefloor.h"

// A fresh alias with one Section of count Supports, seeded in plain C (one
// in measuredEvery measured), nothing calculated.
struct SeededSection
{
    TempAlias home;
    qint64 line = 0;

    SeededSection(const QString &name, int count, int measuredEvery = 100)
    {
        {
            Seeder s;
            line = s.addSection(name);
        }
        floorsql::seedSupports(supportsFile(), line, count, measuredEvery);
    }

    QString supportsFile() const { return home.defaultFolder() + QStringLiteral("/base_kor.db"); }
};
