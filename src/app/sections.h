#pragma once

class KorTables;

// Deletes the current Section together with every one of its Supports, those
// the leakage filter hides included; the filter is the same afterwards. The
// Supports go first, in one bulk scope of their table, so that a failure
// never leaves Supports without their Section.
void deleteSectionWithSupports(KorTables &db);
