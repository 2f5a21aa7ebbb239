#include "sections.h"

#include "controlshold.h"

#include "data/kortables.h"
#include "data/errors.h"

namespace {

void deleteOnce(KorTables &db)
{
    Table &supports = db.Table1;
    const bool filtered = supports.Filtered();
    withControlsDisabled(supports, [&] {
        {
            Table::BulkScope bulk(supports);
            if (filtered)
                supports.SetFiltered(false);
            try {
                supports.First();
                while (supports.RecordCount() != 0)
                    supports.Delete();
            } catch (...) {
                if (filtered) {
                    try {
                        supports.SetFiltered(true);
                    } catch (const SystemError &e) {
                        qWarning("%s", e.what());
                    }
                }
                throw;
            }
            if (filtered)
                supports.SetFiltered(true);
        }
        db.Table2.Delete();
    });
}

} // namespace

void deleteSectionWithSupports(KorTables &db)
{
    // Another user may add Supports to the Section between the deletion of
    // its Supports and that of the Section itself; the store then refuses to
    // delete the Section, and the new Supports are deleted in their turn.
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        try {
            deleteOnce(db);
            return;
        } catch (const StillReferencedError &) {
            if (attempt == kAttempts)
                throw;
        }
    }
}
