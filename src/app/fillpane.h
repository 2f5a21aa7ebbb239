#pragma once

#include <QString>

class KorTables;

// The numbering schemes of the fill pane, by the index of their item.
enum class NumberingScheme { Even = 0, Odd = 1, Continuous = 2 };

// What the fill pane reads when its button is pressed: the texts as typed.
struct FillRequest
{
    QString count;
    QString startChainage; // km
    QString spacing;       // m
    QString startNumber;
    int scheme = 0;
};

// Appends count + 1 Supports to the current Section: numbered by the scheme
// from the start number, at the start chainage (taken as a 32-bit float)
// plus b × spacing metres, each with the resistance 200. The whole run holds
// Table1's controls and is one bulk scope of the store; whatever fails, the
// controls are released before the error goes on, and what was posted stays.
// A start chainage that is not decimal text is refused before anything is
// created, as is a run whose last distance leaves the 32-bit range.
void fillSupports(KorTables &db, const FillRequest &request);

// Deletes every Support of the current Section, those the leakage filter
// would hide included; the filter is off afterwards.
void clearSupports(KorTables &db);
