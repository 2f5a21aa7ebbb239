#include "sections.h"

#include "controlshold.h"

#include "data/kortables.h"
#include "store/tablefile.h"

void deleteSectionWithSupports(KorTables &db)
{
    Table &supports = db.Table1;
    const bool filtered = supports.Filtered();
    withControlsDisabled(supports, [&] {
        {
            store::BulkScope bulk(supports.file());
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
